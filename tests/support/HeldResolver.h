#pragma once

#include <string>

namespace tvxtest {

// Answers name lookups without DNS, through the platform resolver's test seam:
// dotted IPv4 text as itself, names ending in ".test" with 127.0.0.1, names
// beginning with "nowhere." with nothing. Lookups of ".test" and "nowhere."
// names wait until Release (or, so a test that forgets cannot hang, 10 s);
// that stands for a name server that does not answer. One at a time per
// process; the destructor releases, waits for lookups still inside and puts
// the system resolver back.
class HeldResolver {
  public:
    HeldResolver();
    ~HeldResolver();
    HeldResolver(const HeldResolver&) = delete;
    HeldResolver& operator=(const HeldResolver&) = delete;

    void Release();
    bool Released() const;
    // Lookups of name that have begun so far.
    int Lookups(const std::string& name) const;
    // Waits (bounded) until count lookups of name have begun.
    bool WaitForLookups(const std::string& name, int count = 1, int timeoutMs = 5000) const;
};

}  // namespace tvxtest

#pragma once

#include <vector>

#include "ostra/norvikqos/object/qvCString.h"

// Splits a text at one separator character; empty pieces (doubled separators,
// a separator at either end) make no token.
class qvCStringSplitter {
  public:
    void Split(const char* text, char separator);
    bool HasMore() const { return next_ < tokens_.size(); }
    // The following token; an empty string once none is left.
    qvCString Next();
    size_t Count() const { return tokens_.size(); }

  private:
    std::vector<qvCString> tokens_;
    size_t next_ = 0;
};

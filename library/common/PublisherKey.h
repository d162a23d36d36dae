#pragma once

// The publisher's public key the library checks the engine update and the
// game files with: the one built in (TVX_PUBLISHER_KEY), unless a test sets
// another. Empty: no key, and content is taken unsigned.

#include <optional>
#include <string>

const std::string& PublisherKey();
// nullopt restores the built-in key. For tests; call before the library starts.
void SetPublisherKey(std::optional<std::string> key);

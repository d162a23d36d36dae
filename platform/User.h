#pragma once

namespace platform {

// The user the process acts as (its effective user id).
unsigned CurrentUserId();

}  // namespace platform

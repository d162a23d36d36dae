#pragma once

// What the size checker tells its owner.
class IContentLengthCheckerEventListener {
  public:
    virtual void OnCheckComplete() = 0;
    // kind 1 and kind 2 are the checker's two ways of failing.
    virtual void OnCheckFailed(int kind) = 0;

  protected:
    ~IContentLengthCheckerEventListener() = default;
};

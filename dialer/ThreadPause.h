// Port: blocking the calling thread for a while, as the hang-up and start-up
// waits require.
#pragma once

class ThreadPause {
  public:
    virtual ~ThreadPause() = default;
    virtual void Pause(unsigned ms) = 0;
};

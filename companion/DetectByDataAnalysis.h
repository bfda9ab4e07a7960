// The detection thread's handle on traffic capture: one capture per library,
// reporting into the result bytes of whichever detection thread started it last.
#pragma once

#include <atomic>
#include <cstdint>

using ResultFlag = std::atomic<uint8_t>;

// Makes sure the capture runs and installs the caller's two result bytes
// (A: a relayed request was seen, B: BitTorrent traffic was seen). Always true.
bool StartDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag);

// Withdraws the caller's result bytes and closes the capture, but only when the
// installed bytes are still the caller's (a newer detection thread may own it).
void StopDataAnalysis(ResultFlag* relayedFlag, ResultFlag* bitTorrentFlag);

// Library end: stops and joins the receive thread, closes every adapter and frees
// the capture, whoever owns the result bytes. No capture code runs afterwards.
void ShutdownDataAnalysis();

// Detectors whose answers a test scripts and whose calls it counts; safe to use
// from the detection thread while the test changes them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>

#include "DetectThread.h"
#include "WaitUntil.h"

struct ScriptedDetectors {
    std::atomic<int> adapters{0}, addresses{0};
    std::atomic<uint32_t> lookUpAnswer{0};
    std::atomic<int> lookUps{0};
    std::atomic<int32_t> tcp{0}, udp{0};
    std::atomic<bool> service{false}, dhcp{false}, programs{false};
    std::atomic<int> passes{0}; // completed calls of the program detector
    std::atomic<int> passStarts{0};
    std::atomic<bool> raise{false}; // the program detector throws
    std::atomic<int> probeStarts{0}, captureStarts{0}, captureStops{0}, captureUpdates{0};
    std::atomic<uint8_t> captureKinds{0}; // as the last start or update gave them
    uint8_t captureMac[6] = {};           // as the last start or update gave it
    std::function<void()> proxyFound;     // what the pass handed to the probe
    ResultFlag* relayed = nullptr;
    ResultFlag* bitTorrent = nullptr;
    std::atomic<int> updateStarts{0}, updateForgets{0};
    std::string lastUpdateUrl;
    int lastUpdateLength = 0;
    std::mutex mutex;

    // A pass can be held inside the program detector until the test releases it.
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};

    Detectors Make() {
        Detectors d;
        d.countAdapters = [this] { return AdapterCounts{adapters.load(), addresses.load()}; };
        d.lookUpAccessAddress = [this](const uint8_t*) {
            ++lookUps;
            return lookUpAnswer.load();
        };
        d.countTcp = [this] { return tcp.load(); };
        d.countUdp = [this] { return udp.load(); };
        d.serviceRunning = [this] { return service.load(); };
        d.dhcpServerPort = [this] { return dhcp.load(); };
        d.programFeatures = [this] {
            ++passStarts;
            if (hold) {
                holding = true;
                WaitUntil([this] { return !hold.load(); }, 20000);
                holding = false;
            }
            if (raise)
                throw std::runtime_error("detector failed");
            const bool found = programs.load();
            ++passes;
            return found;
        };
        d.startProbe = [this](std::function<void()> found) {
            std::lock_guard<std::mutex> g(mutex);
            proxyFound = std::move(found);
            ++probeStarts;
        };
        d.startCapture = [this](ResultFlag* a, ResultFlag* b, uint8_t kinds, const uint8_t* mac) {
            std::lock_guard<std::mutex> g(mutex);
            relayed = a;
            bitTorrent = b;
            captureKinds = kinds;
            std::memcpy(captureMac, mac, 6);
            ++captureStarts;
            return true;
        };
        d.updateCapture = [this](ResultFlag*, ResultFlag*, uint8_t kinds, const uint8_t* mac) {
            std::lock_guard<std::mutex> g(mutex);
            captureKinds = kinds;
            std::memcpy(captureMac, mac, 6);
            ++captureUpdates;
        };
        d.stopCapture = [this](ResultFlag* a, ResultFlag*) {
            std::lock_guard<std::mutex> g(mutex);
            if (a == relayed)
                relayed = bitTorrent = nullptr;
            ++captureStops;
        };
        d.startUpdateClient = [this](const std::string& url, int length) {
            std::lock_guard<std::mutex> g(mutex);
            lastUpdateUrl = url;
            lastUpdateLength = length;
            ++updateStarts;
            return true;
        };
        d.forgetUpdateClient = [this] { ++updateForgets; };
        return d;
    }
};

// Shared set-up of the update and HTTP tests: the library's ports replaced by
// fakes for the length of one test.
#pragma once

#include "companion/FakeFileStore.h"
#include "companion/FakeInternet.h"
#include "companion/FakeUserNotice.h"
#include "HttpSyncGet.h"
#include "ModuleResources.h"
#include "companion/OpenSslCrypto.h"
#include "Ports.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

// The library's own RCDATA resources, by id.
class StubResources : public ModuleResources {
  public:
    bool ReadRawData(const std::string& moduleName, int resourceId,
                     std::vector<uint8_t>& out) override {
        std::lock_guard<std::mutex> hold(lock);
        if (moduleName != "Ostrel.dll" || !loaded)
            return false;
        auto it = data.find(resourceId);
        if (it == data.end())
            return false;
        out = it->second;
        return true;
    }
    std::mutex lock;
    bool loaded = true;
    std::map<int, std::vector<uint8_t>> data;
};

class PortsFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = Ports();
        Ports().files = &files;
        Ports().internet = &internet;
        Ports().notice = &notice;
        Ports().resources = &resources;
        Ports().crypto = &crypto;
        // The shipped stamp: 0xFFFF, 1, 2, 1, 2 (major 1, minor 2, build 2).
        resources.data[129] = {0xFF, 0xFF, 1, 0, 2, 0, 1, 0, 2, 0};
    }
    void TearDown() override {
        // Downloads given up on may still wait in a hostile answer: end them before
        // the fakes go.
        internet.Release();
        EXPECT_TRUE(WaitForDownloadThreads(10000));
        Ports() = saved_;
    }

    FakeFileStore files;
    FakeInternet internet;
    FakeUserNotice notice;
    StubResources resources;
    OpenSslCrypto crypto;

  private:
    CompanionPorts saved_;
};

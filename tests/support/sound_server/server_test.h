#pragma once

// What every case here shares: a JACK server started by
// scripts/sound-server.sh jack at 48 kHz (else the case is skipped and says
// why), and the live layer's host under a client name of this process's
// own, since ctest may run several cases at once on one server.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "kova/live/host.h"

constexpr long kRate = 48000;  // one sample per word at this rate

class Server_Test : public testing::Test {
protected:
    void SetUp() override
    {
        const char* server = std::getenv("KOVA_SOUND_SERVER");
        if (!server || std::string(server) != "jack")
            GTEST_SKIP()
                << "needs a JACK server: run through scripts/sound-server.sh jack -- ctest -L sound-server";
        ASSERT_EQ(std::atol(std::getenv("KOVA_SOUND_RATE")), kRate);
        client_ = "kova-live-tests-" + std::to_string(getpid());
        host_ = kova::live::open_host(client_.c_str());
        ASSERT_EQ(host_->error(), "");
    }

    std::string client_;
    std::unique_ptr<kova::live::Host> host_;
};

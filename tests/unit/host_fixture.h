// A test that runs against the reference host ends by checking that the module released every
// reference it took and made no forbidden call.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "reference_host.h"

class HostTest : public ::testing::Test {
protected:
    explicit HostTest(const refhost::host_options& options = {}) : host(std::make_unique<refhost::reference_host>(options)) {
        host->log.on_violation = [](const std::string& what) { ADD_FAILURE() << what; };
        refhost::ledger::instance().clear_errors();
    }
    void TearDown() override { expect_clean(); }

    void expect_clean() {
        for (const std::string& problem : host->problems()) ADD_FAILURE() << problem;
    }

    std::unique_ptr<refhost::reference_host> host;
};

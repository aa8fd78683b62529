// Tests of the built module, loaded by path through its exports and driven by the reference host.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "module_loader.h"
#include "quorrin/host_services.h"
#include "reference_host.h"
#include "support/com_ptr.h"
#include "zq.h"

class ModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module = new refhost::plugin_module(refhost::plugin_module::default_path());
    }
    static void TearDownTestSuite() {
        delete module;
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(module->loaded()) << module->error();
        ASSERT_EQ("", module->error());
        zq_fail(-1, 0);
        host = std::make_unique<refhost::reference_host>();
        host->log.enabled = false;
        host->log.on_violation = [](const std::string& what) { ADD_FAILURE() << what; };
        refhost::ledger::instance().clear_errors();
    }
    void TearDown() override {
        zq_fail(-1, 0);
        for (const std::string& problem : host->problems()) ADD_FAILURE() << problem;
        host.reset();
    }

    quorrin::com_ptr<IClassFactory> factory() {
        quorrin::com_ptr<IClassFactory> f;
        EXPECT_EQ(S_OK, module->DllGetClassObject(CLSID_DownloadLibPlugin, IID_IClassFactory, f.put_void()));
        return f;
    }
    quorrin::com_ptr<IDownloadLibPlugin> create_plugin() {
        quorrin::com_ptr<IDownloadLibPlugin> plugin;
        EXPECT_EQ(S_OK, factory()->CreateInstance(nullptr, IID_IDownloadLibPlugin, plugin.put_void()));
        return plugin;
    }
    static zq_usage pool() {
        zq_usage usage{};
        zq_usage_of(&usage);
        return usage;
    }

    static refhost::plugin_module* module;
    std::unique_ptr<refhost::reference_host> host;
};

#include <gtest/gtest.h>

#include <cstdlib>

#include "MediaFramework.h"

TEST(MediaFramework, StartsOnceAndFindsStockElements) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    EXPECT_EQ(InitMediaFramework(), S_OK);
    EXPECT_TRUE(HasElementFactory("avimux"));
    EXPECT_TRUE(HasElementFactory("uridecodebin"));
    EXPECT_FALSE(HasElementFactory("no-such-element-here"));
}

TEST(MediaFramework, PluginFolderFollowsTheEnvironmentOrTheExecutable) {
    const char* saved = std::getenv("KESTRINE_PLUGIN_DIR");
    std::string keep = saved ? saved : "";
    setenv("KESTRINE_PLUGIN_DIR", "/tmp/some-plugins", 1);
    EXPECT_EQ(PluginFolder(), "/tmp/some-plugins");
    unsetenv("KESTRINE_PLUGIN_DIR");
    std::string beside = PluginFolder();
    EXPECT_EQ(beside.substr(beside.size() - 8), "/plugins");
    EXPECT_NE(beside.find("/bin/"), std::string::npos);
    if (saved) setenv("KESTRINE_PLUGIN_DIR", keep.c_str(), 1);
}

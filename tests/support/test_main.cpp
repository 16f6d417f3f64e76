#include "support/system.hpp"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Tests talk to loopback servers only; an inherited proxy would send them elsewhere.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "ftp_proxy", "FTP_PROXY"}) {
        orvanta::test::system::setEnvironment(name, nullptr);
    }
    orvanta::test::system::setEnvironment("no_proxy", "*");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// GoogleTest's main for the Objective-C++ suites: one autorelease pool for
// the run and the shared NSApplication, made only when tests actually run so
// that listing them needs no display.

#import <AppKit/AppKit.h>

#include <gtest/gtest.h>

namespace {

class App_Environment : public testing::Environment {
public:
    void SetUp() override { [NSApplication sharedApplication]; }
};

}  // namespace

int main(int argc, char** argv)
{
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new App_Environment);
    const int result = RUN_ALL_TESTS();
    [pool release];
    return result;
}

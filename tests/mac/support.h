// Helpers for the Objective-C++ tests of KOVA-mac: a scratch folder, the
// process's standard error captured (NSLog writes there), a save panel that
// answers from a script, and file reading.

#pragma once

#import <Foundation/Foundation.h>

#include <string>
#include <vector>

#import "kovaSavePanel.h"

namespace kova_test {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class Temp_Dir {
public:
    Temp_Dir();
    ~Temp_Dir();
    Temp_Dir(const Temp_Dir&) = delete;
    Temp_Dir& operator=(const Temp_Dir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Redirects file descriptor 2 into a file until text() or the destructor.
class Stderr_Capture {
public:
    Stderr_Capture();
    ~Stderr_Capture();
    Stderr_Capture(const Stderr_Capture&) = delete;
    Stderr_Capture& operator=(const Stderr_Capture&) = delete;
    // Stops capturing and returns everything written meanwhile.
    std::string text();

private:
    void stop();
    int saved_ = -1;
    std::string path_;
    std::string text_;
};

// How often `line` occurs in `log` as the message of an NSLog line.
int count_lines(const std::string& log, const std::string& line);

bool exists(const std::string& path);
Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
Bytes pattern_bytes(std::size_t size, unsigned char seed);

NSString* ns(const std::string& text);

// While alive, every closeFile of a file handle closes for real and then
// fails: it raises, as Foundation does when close() reports an error, or,
// given a path, deletes that file as if it had vanished.
class Close_Hook {
public:
    explicit Close_Hook(const std::string& delete_path = "");
    ~Close_Hook();
    Close_Hook(const Close_Hook&) = delete;
    Close_Hook& operator=(const Close_Hook&) = delete;
};

}  // namespace kova_test

// Answers the save panel from a queue: a path confirms, an empty string
// cancels. Installed as the chooser for the whole test process.
@interface kovaScriptedChooser : NSObject <kovaPathChooser> {
    NSMutableArray* answers;
    int asked;
}
+ (kovaScriptedChooser*)install;
- (void)answer:(const std::string&)path;
- (void)cancel;
- (int)asked;
- (NSUInteger)pending;
@end

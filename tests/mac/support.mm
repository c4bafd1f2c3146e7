#import "support.h"

#include "files.h"

#include <objc/runtime.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

namespace kova_test {

Temp_Dir::Temp_Dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kova-mac-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

Temp_Dir::~Temp_Dir()
{
    [[NSFileManager defaultManager] removeItemAtPath:ns(path_) error:NULL];
}

Stderr_Capture::Stderr_Capture()
{
    char name[] = "/tmp/kova-mac-log-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    path_ = name;
    std::fflush(stderr);
    saved_ = dup(2);
    dup2(fd, 2);
    close(fd);
}

Stderr_Capture::~Stderr_Capture() { stop(); }

void Stderr_Capture::stop()
{
    if (saved_ < 0)
        return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::ifstream in(path_, std::ios::binary);
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(path_.c_str());
    // Keep the captured lines visible in the test's own output.
    std::fputs(text_.c_str(), stderr);
}

std::string Stderr_Capture::text()
{
    stop();
    return text_;
}

int count_lines(const std::string& log, const std::string& line)
{
    // NSLog prefixes a date, the process name and ids: "... name[pid:tid] text".
    int count = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        const std::string one = log.substr(start, end - start);
        const std::size_t mark = one.find("] ");
        if (mark != std::string::npos && one.compare(mark + 2, std::string::npos, line) == 0)
            ++count;
        start = end + 1;
    }
    return count;
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

Bytes read_file(const std::string& path) { return kova::support::read_bytes(path); }

void write_file(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes pattern_bytes(std::size_t size, unsigned char seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    return bytes;
}

NSString* ns(const std::string& text) { return [NSString stringWithUTF8String:text.c_str()]; }

namespace {

Method g_close_method = nullptr;
IMP g_real_close = nullptr;
std::string g_delete_path;

void failing_close(id self, SEL command)
{
    reinterpret_cast<void (*)(id, SEL)>(reinterpret_cast<void (*)(void)>(g_real_close))(self, command);
    if (g_delete_path.empty())
        [NSException raise:NSFileHandleOperationException format:@"close failed: Input/output error"];
    unlink(g_delete_path.c_str());
}

}  // namespace

Close_Hook::Close_Hook(const std::string& delete_path)
{
    g_delete_path = delete_path;
    // The class the handler gets from fileHandleForUpdatingAtPath:.
    NSFileHandle* sample = [NSFileHandle fileHandleForUpdatingAtPath:@"/dev/null"];
    g_close_method = class_getInstanceMethod([sample class], @selector(closeFile));
    [sample closeFile];
    g_real_close = method_setImplementation(
        g_close_method, reinterpret_cast<IMP>(reinterpret_cast<void (*)(void)>(failing_close)));
}

Close_Hook::~Close_Hook() { method_setImplementation(g_close_method, g_real_close); }

}  // namespace kova_test

@implementation kovaScriptedChooser

+ (kovaScriptedChooser*)install
{
    kovaScriptedChooser* chooser = [[[kovaScriptedChooser alloc] init] autorelease];
    [kovaSavePanel setChooser:chooser];
    return chooser;
}

- (id)init
{
    self = [super init];
    if (self != nil)
        answers = [[NSMutableArray alloc] init];
    return self;
}

- (void)dealloc
{
    [answers release];
    [super dealloc];
}

- (void)answer:(const std::string&)path
{
    [answers addObject:kova_test::ns(path)];
}

- (void)cancel
{
    [answers addObject:@""];
}

- (int)asked
{
    return asked;
}

- (NSUInteger)pending
{
    return [answers count];
}

- (NSString*)chooseWavPath
{
    ++asked;
    if ([answers count] == 0)
        return nil;
    NSString* next = [[[answers objectAtIndex:0] retain] autorelease];
    [answers removeObjectAtIndex:0];
    return [next length] == 0 ? nil : next;
}

@end

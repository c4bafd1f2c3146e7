// The generation's output over a kovaFileHandler, so the application runs
// the core's generation like every other front-end: the first write creates
// the file, which shows the save panel; each later write appends one block.

#import <Foundation/Foundation.h>

#include "kova/output.h"
#include "kova/status.h"

@class kovaFileHandler;

namespace kova::mac {

class Handler_Output final : public Output {
public:
    Handler_Output() = default;
    ~Handler_Output() override;
    Handler_Output(const Handler_Output&) = delete;
    Handler_Output& operator=(const Handler_Output&) = delete;

    std::size_t write(const unsigned char* data, std::size_t size) override;
    // The handler opens and closes the file for every append; a close that
    // fails shows there, as a failed append.
    int close() override { return kOk; }

    // The handler made for the first write; nil when nothing was written.
    kovaFileHandler* handler() const { return handler_; }
    // The handler's status of the write that failed (kCancelled: panel
    // cancelled; kHandlerFailed: failed, already logged); kOk while none has.
    int status() const { return status_; }
    // Whether a file was created: only then is there something to remove.
    bool created() const { return created_; }

private:
    kovaFileHandler* handler_ = nil;
    int status_ = kOk;
    bool created_ = false;
};

}  // namespace kova::mac

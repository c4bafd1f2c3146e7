#import "kovaHandlerOutput.h"

#include <climits>

#import "kovaFileHandler.h"

namespace kova::mac {

Handler_Output::~Handler_Output() { [handler_ release]; }

std::size_t Handler_Output::write(const unsigned char* data, std::size_t size)
{
    if (status_ != kOk || size > INT_MAX)
        return 0;
    const int length = static_cast<int>(size);
    if (!created_) {
        // A new handler per file; made only now, once the header and the
        // buffer are ready.
        handler_ = [[kovaFileHandler alloc] init];
        status_ = [handler_ createWavFile:data :length];
        created_ = status_ == kOk;
    } else {
        status_ = [handler_ appendWavFile:data :length];
    }
    return status_ == kOk ? size : 0;
}

}  // namespace kova::mac

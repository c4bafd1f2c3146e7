// The only part of the application that touches the file system: it asks
// where to save, creates the file with the header and appends the blocks.

#import <Foundation/Foundation.h>

#include "kova/status.h"

namespace kova::mac {

// The handler's one failure code, beside kova::kOk and kova::kCancelled
// (the panel was cancelled). It keeps the -1 its callers and tests know: the
// core's kFatal has that value but means a failed header, and the core's
// failed block write, kWriteFailed, has another value, so neither name fits.
constexpr int kHandlerFailed = -1;

}  // namespace kova::mac

@interface kovaFileHandler : NSObject {
    NSString *path;
    BOOL inOpened;
    BOOL outOpened;
    NSMutableData *fileData;
    int bytesToWrite;
    char fileHeader[12];
    int headerSize;
}

// Save panel, then creates or replaces the chosen file holding exactly the
// given bytes. kOk when written, kHandlerFailed when the write failed or the
// length is negative, kCancelled when the panel was cancelled.
- (int)createWavFile:(const unsigned char *)bytes :(int)length;

// Adds the bytes at the end of the file made by createWavFile::.
// kOk when written; kHandlerFailed when the length is negative, or the file
// is gone or could not be written or closed.
- (int)appendWavFile:(const unsigned char *)bytes :(int)length;

// Deletes the file made by createWavFile::, so that a failed generation
// leaves nothing half-written behind. YES when a file was removed.
- (BOOL)removeWavFile;
// Whether the file made by createWavFile:: is there.
- (BOOL)wavFileExists;

@end

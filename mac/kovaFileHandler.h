// The only part of the application that touches the file system: it asks
// where to save, creates the file with the header and appends the blocks.

#import <Foundation/Foundation.h>

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
// given bytes. 0 when written, -1 when the write failed or the length is
// negative, -2 when cancelled.
- (int)createWavFile:(const unsigned char *)bytes :(int)length;

// Adds the bytes at the end of the file made by createWavFile::.
// 0 when written; -1 when the length is negative, or the file is gone or
// could not be written or closed.
- (int)appendWavFile:(const unsigned char *)bytes :(int)length;

// Deletes the file made by createWavFile::, so that a failed generation
// leaves nothing half-written behind. YES when a file was removed.
- (BOOL)removeWavFile;
// Whether the file made by createWavFile:: is there.
- (BOOL)wavFileExists;

@end

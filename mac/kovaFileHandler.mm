#import "kovaFileHandler.h"

#import "kovaSavePanel.h"

// A negative length would become a huge size: never from the generation,
// but refused all the same.
static BOOL rejectNegative(int length)
{
    if (length >= 0)
        return NO;
    NSLog(@"Rejected negative length: %d", length);
    return YES;
}

@implementation kovaFileHandler

- (id)init
{
    self = [super init];
    if (self != nil) {
        inOpened = NO;
        outOpened = NO;
    }
    return self;
}

- (void)dealloc
{
    [fileData release];
    [path release];
    [super dealloc];
}

- (int)createWavFile:(const unsigned char *)bytes :(int)length
{
    if (rejectNegative(length))
        return kova::mac::kHandlerFailed;
    NSString *chosen = [[kovaSavePanel chooser] chooseWavPath];
    if (chosen == nil)
        return kova::kCancelled;

    [chosen retain];
    [path release];
    path = chosen;

    [fileData release];
    fileData = [[NSMutableData alloc] initWithBytes:bytes length:(NSUInteger)length];

    // GNUstep reports a failed write by its result alone, Cocoa also fills
    // in the error; either one means the file was not written.
    NSError *error = nil;
    BOOL written = [fileData writeToFile:path options:NSDataWritingAtomic error:&error];
    if (!written || error != nil) {
        NSString *reason = error != nil ? [error localizedDescription]
                                        : [NSString stringWithFormat:@"could not write %@", path];
        NSLog(@"Writing File failed with error %li: %@", (long)[error code], reason);
        return kova::mac::kHandlerFailed;
    }
    return kova::kOk;
}

- (int)appendWavFile:(const unsigned char *)bytes :(int)length
{
    if (rejectNegative(length))
        return kova::mac::kHandlerFailed;
    if (![self wavFileExists]) {
        NSLog(@"File does not exist!");
        return kova::mac::kHandlerFailed;
    }

    [fileData release];
    fileData = [[NSMutableData alloc] initWithBytes:bytes length:(NSUInteger)length];

    NSFileHandle *file = [NSFileHandle fileHandleForUpdatingAtPath:path];
    if (file == nil) {
        NSLog(@"Appending to file failed!");
        return kova::mac::kHandlerFailed;
    }
    // writeData: raises on a full disk or any other write error, and
    // closeFile on an error found only at close (a network share); neither
    // may unwind through the generation, and either means the data is not
    // in the file.
    BOOL written = NO;
    @try {
        [file seekToEndOfFile];
        [file writeData:fileData];
        written = YES;
    } @catch (id) {
    }
    @try {
        [file closeFile];
    } @catch (id) {
        written = NO;
    }
    if (!written) {
        NSLog(@"Appending to file failed!");
        return kova::mac::kHandlerFailed;
    }
    return kova::kOk;
}

- (BOOL)removeWavFile
{
    return [self wavFileExists] && [[NSFileManager defaultManager] removeItemAtPath:path error:NULL];
}

- (BOOL)wavFileExists
{
    return path != nil && [[NSFileManager defaultManager] fileExistsAtPath:path];
}

@end

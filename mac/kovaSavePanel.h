// Asking the user for the output file. The file handler goes through this
// seam so the tests can answer in place of the modal panel.

#import <AppKit/AppKit.h>

@protocol kovaPathChooser <NSObject>
// The full path the user confirmed, or nil when the panel was cancelled.
- (NSString *)chooseWavPath;
@end

// The real chooser: a modal save panel that only accepts "wav" files.
@interface kovaSavePanel : NSObject <kovaPathChooser>
+ (id<kovaPathChooser>)chooser;
// Replaces the chooser for the rest of the run; nil restores the panel.
+ (void)setChooser:(id<kovaPathChooser>)chooser;
@end

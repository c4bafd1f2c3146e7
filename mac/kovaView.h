// The window's background: the picture "GUI_bg.bmp", drawn at its own size
// in the lower-left corner.

#import <AppKit/AppKit.h>

@interface kovaView : NSView {
    NSImage *bgImage;
}
@end

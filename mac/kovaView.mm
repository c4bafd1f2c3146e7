#import "kovaView.h"

#ifdef GNUSTEP
// GNUstep still spells the copy operation the pre-10.12 way.
#define NSCompositingOperationCopy NSCompositeCopy
#endif

@implementation kovaView

- (id)initWithFrame:(NSRect)frame
{
    self = [super initWithFrame:frame];
    if (self == nil)
        return nil;
    bgImage = [[NSImage imageNamed:@"GUI_bg.bmp"] retain];
    if (bgImage == nil) {
        NSLog(@"Failed to load bg image");
        [self release];
        return nil;
    }
    return self;
}

- (void)dealloc
{
    [bgImage release];
    [super dealloc];
}

- (void)drawRect:(NSRect)dirtyRect
{
    // The whole picture every time; the view clips to what needs redrawing.
    (void)dirtyRect;
    const NSSize size = [bgImage size];
    [bgImage drawAtPoint:NSZeroPoint
                fromRect:NSMakeRect(0, 0, size.width, size.height)
               operation:NSCompositingOperationCopy
                fraction:1.0];
}

@end

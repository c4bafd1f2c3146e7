#import "kovaSavePanel.h"

static id<kovaPathChooser> gChooser = nil;

@implementation kovaSavePanel

+ (id<kovaPathChooser>)chooser
{
    if (gChooser == nil)
        gChooser = [[kovaSavePanel alloc] init];
    return gChooser;
}

+ (void)setChooser:(id<kovaPathChooser>)chooser
{
    [chooser retain];
    [gChooser release];
    gChooser = chooser;
}

- (NSString *)chooseWavPath
{
    NSArray *types = [NSArray arrayWithObject:@"wav"];
    NSSavePanel *panel = [NSSavePanel savePanel];
    [panel setAllowedFileTypes:types];
    if ([panel runModal] != NSModalResponseOK)
        return nil;
    return [[panel URL] path];
}

@end

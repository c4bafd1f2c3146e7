// The controller: keeps the settings in the header record, answers the two
// lists, the button and the menu item, and runs one generation per request.

#import <AppKit/AppKit.h>

#include "kova/wav_data.h"

@class kovaFileHandler;

@interface kovaAppDelegate : NSObject <NSApplicationDelegate> {
    NSButton *_GeneratorButton;
    NSComboBox *_SamplerateBox;
    NSComboBox *_DurationBox;
    kova::Wav_Data wav;
    kovaFileHandler *_FileHandler;
    NSWindow *_Generator;
}

@property (retain) IBOutlet NSButton *GeneratorButton;
@property (retain) IBOutlet NSComboBox *SamplerateBox;
@property (retain) IBOutlet NSComboBox *DurationBox;
@property (retain) IBOutlet NSWindow *Generator;

- (void)applicationDidFinishLaunching:(NSNotification *)notification;

- (IBAction)Samplerate:(id)sender;
- (IBAction)Duration:(id)sender;
- (IBAction)Generate:(id)sender;
- (IBAction)MenuGenerate:(id)sender;

- (void)generateFile;
// Writes `cycles` cycles of the pattern from buffer[offset]; returns the
// offset after the last byte written, or -1 (logged) for a negative offset.
// generateFile does not call it: kova::generate fills the block itself, once
// for all the blocks it writes through the handler. It is kept as part of the
// delegate's interface for callers outside the application.
- (int)copyData:(unsigned char *)buffer :(int)cycles :(int)offset;

@end

#import "kovaAppDelegate.h"

#import "kovaFileHandler.h"
#import "kovaHandlerOutput.h"
#include "kova/generate.h"
#include "kova/pattern.h"
#include "kova/settings.h"
#include "kova/status.h"

@interface kovaAppDelegate ()
- (void)logGeneration:(int)status :(const kova::mac::Handler_Output &)output;
@end

@implementation kovaAppDelegate

@synthesize GeneratorButton = _GeneratorButton;
@synthesize SamplerateBox = _SamplerateBox;
@synthesize DurationBox = _DurationBox;
@synthesize Generator = _Generator;

- (void)dealloc
{
    [_GeneratorButton release];
    [_SamplerateBox release];
    [_DurationBox release];
    [_FileHandler release];
    [_Generator release];
    [super dealloc];
}

- (void)applicationDidFinishLaunching:(NSNotification *)notification
{
    (void)notification;
    [[self SamplerateBox] selectItemAtIndex:0];
    [[self DurationBox] selectItemAtIndex:0];
#ifdef GNUSTEP
    // GNUstep selects the item without showing it in the box.
    [[self SamplerateBox] setStringValue:[[self SamplerateBox] objectValueOfSelectedItem]];
    [[self DurationBox] setStringValue:[[self DurationBox] objectValueOfSelectedItem]];
#endif
    // Selecting from code sends no action, so the defaults are stored here.
    kova::set_defaults(wav);
}

- (IBAction)Samplerate:(id)sender
{
    (void)sender;
    kova::select_sample_rate(wav, [[self SamplerateBox] indexOfSelectedItem]);
}

- (IBAction)Duration:(id)sender
{
    (void)sender;
    kova::select_duration(wav, [[self DurationBox] indexOfSelectedItem]);
}

- (IBAction)Generate:(id)sender
{
    (void)sender;
    [self generateFile];
}

- (IBAction)MenuGenerate:(id)sender
{
    (void)sender;
    [self generateFile];
}

- (void)generateFile
{
    kova::mac::Handler_Output output;
    kova::Block_Buffer buffer;
    const int status = kova::generate(wav, buffer, output);
    if (output.handler() != nil) {
        [_FileHandler release];
        _FileHandler = [output.handler() retain];
    }
    [self logGeneration:status :output];
}

// The one place where the outcome of a generation becomes a log line.
- (void)logGeneration:(int)status :(const kova::mac::Handler_Output &)output
{
    if (status == kova::kOk)
        return;
    if (status == kova::kNoMemory) {
        NSLog(@"Failed to allocate memory for file data!");
        return;
    }
    if (!output.created()) {
        // A cancelled panel says nothing; a failed create has said why.
        if (output.status() == kova::kOk)
            NSLog(@"Failed to create WAV Header");
        return;
    }
    // A file with a gap in its data is worse than no file.
    if ([_FileHandler removeWavFile])
        NSLog(@"Generation failed, incomplete file removed");
    else if ([_FileHandler wavFileExists])
        NSLog(@"Generation failed, incomplete file could not be removed");
    else
        NSLog(@"Generation failed");
}

- (int)copyData:(unsigned char *)buffer :(int)cycles :(int)offset
{
    // A negative offset would write ahead of the buffer: never from the
    // generation, but refused all the same.
    if (offset < 0) {
        NSLog(@"Rejected negative offset: %d", offset);
        return -1;
    }
    return static_cast<int>(kova::fill_block(wav, buffer, cycles, static_cast<std::size_t>(offset)));
}

// GCC emits the synthesized setters here and calls their argument unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
@end
#pragma GCC diagnostic pop

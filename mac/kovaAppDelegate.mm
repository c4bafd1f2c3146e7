#import "kovaAppDelegate.h"

#include <cstdlib>

#import "kovaFileHandler.h"
#include "kova/header.h"
#include "kova/pattern.h"
#include "kova/settings.h"

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
    if (kova::build_header(wav, kova::sample_count(wav)) != 0) {
        NSLog(@"Failed to create WAV Header");
        return;
    }
    kova::set_pattern_words(wav);

    // Allocated before the save panel: without memory there is no point in
    // asking for a file.
    unsigned char *buffer = static_cast<unsigned char *>(std::malloc(kova::kBlockBytes));
    if (buffer == NULL) {
        NSLog(@"Failed to allocate memory for file data!");
        return;
    }
    kova::serialise_header(wav, buffer);

    [_FileHandler release];
    _FileHandler = [[kovaFileHandler alloc] init];
    if ([_FileHandler createWavFile:buffer :static_cast<int>(kova::kHeaderBytes)] != 0) {
        std::free(buffer);
        return;
    }

    const std::uint32_t dataSize = static_cast<std::uint32_t>(wav.Data.lChunkSize);
    const std::size_t cycleBytes = kova::bytes_per_cycle(wav.Format.dwSamplesPerSec);
    const std::uint32_t blocks = kova::block_count(dataSize);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const int cycles = static_cast<int>(kova::block_bytes(dataSize, i) / cycleBytes);
        const int bytes = [self copyData:buffer :cycles :0];
        // A file with a gap in its data is worse than no file.
        if ([_FileHandler appendWavFile:buffer :bytes] != 0) {
            [_FileHandler removeWavFile];
            NSLog(@"Generation failed, incomplete file removed");
            break;
        }
    }
    std::free(buffer);
}

- (int)copyData:(unsigned char *)buffer :(int)cycles :(int)offset
{
    return static_cast<int>(kova::fill_block(wav, buffer, cycles, static_cast<std::size_t>(offset)));
}

// GCC emits the synthesized setters here and calls their argument unused.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
@end
#pragma GCC diagnostic pop

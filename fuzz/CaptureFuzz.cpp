// The capture scanner: the input is the capture file, replayed in a loop.

#include "FuzzSupport.h"

#include "sources/SourceFile.h"

namespace {
// Enough reads to go round a small capture more than once.
constexpr int Reads = 12;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view capture = FuzzBytes(data, size);
    SendState state;
    state.SourceFileName = WriteFuzzFile("capture.pcap", capture);
    SourceFile reader(state);

    bool none = false;
    std::string first;
    for (int i = 0; i < Reads; ++i) {
        const std::string payload = reader.ReadCapturePacket();
        FuzzCheck(payload != CaptureReadError, "a capture that exists can be read");
        FuzzCheck((payload == CaptureNoPacketsError) ==
                      (reader.LastCaptureFault() == SourceFile::CaptureFault::NoPackets),
                  "the fault is named only for a capture without packets");
        if (payload == CaptureNoPacketsError) {
            FuzzCheck(i == 0 || none, "a capture with packets keeps giving them");
            none = true;
            continue;
        }
        FuzzCheck(!none, "a capture without packets keeps saying so");
        FuzzCheck(reader.CaptureData() == capture, "the capture is loaded byte for byte");
        // A payload is bytes of the capture that start with a priority, and
        // the UDP length field (16 bits, 8 for the header) bounds it.
        FuzzCheck(payload.size() >= 2 && payload.size() <= 65535 - 8 && payload[0] == '<',
                  "a payload starts with '<' and fits a datagram");
        FuzzCheck(capture.find(payload) != std::string_view::npos, "a payload is taken from the capture");
        if (i == 0)
            first = payload;
    }

    // Closing starts the loop over.
    reader.CloseSourceFile();
    FuzzCheck(state.SourceFileHandle == 0, "closing zeroes the file number");
    const std::string again = reader.ReadCapturePacket();
    FuzzCheck(none ? again == CaptureNoPacketsError : again == first, "after closing, the first payload comes again");

    // A text read of the same file replaces the capture without trouble.
    reader.ReadSourceFileLine();
    FuzzCheck(reader.ReadCapturePacket() == again, "a capture read after a text read starts over");
    return 0;
}

// Compiles any bytes as a message template and as a template file. A
// template refused says why; one compiled never writes past the room it
// asks for (MaxLength, the buffer sized to it exactly so the sanitizer sees
// a step over), writes the same bytes again from the same seed, and a
// stamp slot's stamp is found in what it writes where the form stands
// alone. ${line} and ${zipf} read only the harness's own file "f".
//
// bash scripts/fuzz.sh 60 TemplateFuzz
#include "FuzzSupport.h"
#include "common/Random.h"
#include "engine/MessageTemplate.h"
#include "engine/Stamp.h"
#include "engine/TemplateSet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {
// Other files than the harness's are not read: a device could be endless.
bool ReadsOtherFiles(std::string_view text)
{
    for (std::string_view field : {"line:", "zipf:"})
        for (std::size_t at = text.find(field); at != std::string_view::npos; at = text.find(field, at + 1))
            if (text.substr(at + field.size(), 2) != "f}" && text.substr(at + field.size(), 2) != "f:")
                return true;
    return false;
}

std::string Rendered(MessageTemplate &compiled, const TemplateContext &context)
{
    std::vector<char> room(compiled.MaxLength(context) + MessageTemplate::CountRoom);
    const char *end = compiled.RenderOctetCounted(room.data(), context);
    FuzzCheck(end >= room.data() && static_cast<std::size_t>(end - room.data()) <= room.size(),
              "a message stays within its room");
    return std::string(room.data(), static_cast<std::size_t>(end - room.data()));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = FuzzBytes(data, size);
    if (ReadsOtherFiles(text))
        return 0;
    static const std::string folder = [] {
        WriteFuzzFile("f", "alpha\n\nbeta\r\ngamma");
        return FuzzFolder();
    }();
    MessageTemplate::Options options;
    options.folder = folder;
    Result<MessageTemplate> compiled = MessageTemplate::Compile(text, options);
    FuzzCheck(compiled || !compiled.Why().empty(), "a refused template says why");
    if (compiled) {
        const Stamp stamp{"fuzz", 3, 41, 1700000000000000};
        const std::string_view texts[] = {"host"};
        TemplateContext context;
        context.nowUs = stamp.sentUs;
        context.seq = 7;
        context.stamp = &stamp;
        context.texts = texts;
        MessageTemplate again = *compiled;
        SetRandomStart(5);
        const std::string first = Rendered(*compiled, context);
        SetRandomStart(5);
        FuzzCheck(Rendered(again, context) == first, "a seed repeats the bytes");
        if (text == "${stamp}" || text == "x${stamp:tab}" || text == "{${stamp:json}}" || text == "${stamp:sd}") {
            Stamp read;
            FuzzCheck(FindStamp(first, read) == StampSearch::Found && read.seq == 41, "a lone stamp slot is found");
        }
    }
    Result<TemplateSet> set = TemplateSet::Parse(text, "fuzz", options);
    FuzzCheck(set || !set.Why().empty(), "a refused template file says why");
    if (set) {
        for (int i = 0; i < 4; ++i) {
            const std::size_t index = set->NextIndex();
            FuzzCheck(index < set->Count(), "a template chosen is one of the set");
            Rendered(set->Template(index), TemplateContext{});
        }
    }
    return 0;
}

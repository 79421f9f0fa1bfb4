// Prints COUNT messages of a template pack, one a line, for the parsers of
// pack_parsers.py: the odd ones stamped where the pack keeps its stamp
// (stream 7, seq the line's number), the even ones not.
// Usage: render_pack_records PACK COUNT
#include "common/Random.h"
#include "engine/Stamp.h"
#include "engine/TemplatePacks.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    const TemplatePack *pack = argc == 3 ? FindTemplatePack(argv[1]) : nullptr;
    if (!pack) {
        std::fprintf(stderr, "usage: render_pack_records PACK COUNT\n");
        return 2;
    }
    Result<TemplateSet> set = CompileTemplatePack(*pack, {});
    if (!set) {
        std::fprintf(stderr, "%s\n", set.Why().c_str());
        return 1;
    }
    SetRandomStart(29);
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const long count = std::stol(argv[2]);
    for (long seq = 1; seq <= count; ++seq) {
        const Stamp stamp{"pack-test", 7, static_cast<std::uint64_t>(seq), now + seq};
        TemplateContext context;
        context.nowUs = now + seq * 1000;
        context.seq = static_cast<std::uint64_t>(seq);
        context.stamp = seq % 2 ? &stamp : nullptr;
        std::string record;
        set->Template(set->NextIndex()).AppendTo(record, context);
        std::printf("%s\n", record.c_str());
    }
    return 0;
}

#include "cli/common/FlagTable.h"

#include "cli/common/FlagValues.h"

namespace {
const Flag *FindFlag(const FlagTable &table, std::string_view name)
{
    for (const FlagGroup &group : table.groups)
        for (const Flag &flag : group.flags)
            if (flag.name == name || (!flag.alias.empty() && flag.alias == name))
                return &flag;
    return nullptr;
}

Flag InfoFlag(std::string_view name, std::string_view alias, std::string_view pageHelp, std::function<void()> given)
{
    return {name,
            "",
            "",
            [given = std::move(given)](std::string_view) {
                given();
                return Status{};
            },
            {},
            alias,
            pageHelp};
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

// Help lines as one paragraph, with scdoc's markup characters taken literally.
std::string ScdocText(std::string_view text)
{
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (c == '\n') {
            out += ' ';
            lineStart = true;
            continue;
        }
        // Columns of the help mean nothing on a page.
        if (c == ' ' && (lineStart || (!out.empty() && out.back() == ' ')))
            continue;
        // A paragraph starting with '-' would be a list item.
        if (c == '\\' || c == '*' || c == '_' || (c == '-' && out.empty()))
            out += '\\';
        lineStart = false;
        out += c;
    }
    return out;
}

std::string ShellWords(const std::vector<std::string_view> &words)
{
    std::string text;
    for (std::string_view word : words)
        text += (text.empty() ? "" : " ") + std::string(word);
    return text;
}
} // namespace

Status ParseFlags(const FlagTable &table, const std::vector<std::string> &args)
{
    const std::string seeHelp(table.seeHelp);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (arg.size() < 2 || arg[0] != '-')
            return Status::Failure("unexpected argument " + Quoted(arg) + seeHelp);
        const Flag *flag = FindFlag(table, name);
        Status taken;
        if (flag == nullptr || flag->value.empty()) {
            if (equals != std::string_view::npos)
                return Status::Failure(std::string(name) + " takes no value");
            if (flag == nullptr && table.unknown)
                if (std::string why = table.unknown(name); !why.empty())
                    return Status::Failure(std::move(why));
            if (flag == nullptr)
                return Status::Failure("unknown flag " + std::string(name) + seeHelp);
            taken = flag->take({});
        } else if (equals != std::string_view::npos) {
            taken = flag->take(arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            taken = flag->take(args[++i]);
        } else {
            return Status::Failure(std::string(name) + " needs a value");
        }
        if (!taken)
            return taken;
    }
    return {};
}

std::vector<std::string_view> FlagNames(const FlagTable &table)
{
    std::vector<std::string_view> names;
    for (const FlagGroup &group : table.groups)
        for (const Flag &flag : group.flags)
            names.push_back(flag.name);
    return names;
}

std::string HelpText(const FlagTable &table)
{
    std::string text = "Usage: " + std::string(table.program) + " [options]\n" + std::string(table.summary);
    for (const FlagGroup &group : table.groups) {
        text += "\n" + std::string(group.title) + "\n";
        const std::string indent(group.column, ' ');
        std::string listed; // flags without help lines share one line
        for (const Flag &flag : group.flags) {
            if (flag.help.empty()) {
                listed += (listed.empty() ? "  " : ", ") + std::string(flag.name);
                continue;
            }
            std::string head = "  " + std::string(flag.name);
            if (!flag.value.empty())
                head += " " + std::string(flag.value);
            if (head.size() + 2 <= group.column)
                head.resize(group.column, ' ');
            else
                head += "\n" + indent;
            const std::vector<std::string_view> lines = Lines(flag.help);
            text += head + std::string(lines.front()) + "\n";
            for (std::size_t i = 1; i < lines.size(); ++i)
                text += indent + std::string(lines[i]) + "\n";
        }
        if (!listed.empty())
            text += listed + "\n";
        if (!group.note.empty())
            text += std::string(group.note) + "\n";
    }
    text += "\n" + std::string(table.epilogue);
    if (!table.examples.empty())
        text += "\nExamples:\n";
    for (const FlagExample &example : table.examples)
        text += "  " + std::string(example.what) + ":\n    " + std::string(example.command) + "\n";
    return text;
}

std::string ScdocOptions(const FlagTable &table)
{
    std::string text;
    for (const FlagGroup &group : table.groups) {
        text += "## " + ScdocText(group.title) + "\n\n";
        for (const Flag &flag : group.flags) {
            text += "*" + std::string(flag.name) + "*";
            if (!flag.alias.empty())
                text += ", *" + std::string(flag.alias) + "*";
            if (!flag.value.empty())
                text += " _" + ScdocText(flag.value) + "_";
            text += "\n\t" + ScdocText(flag.help.empty() ? flag.pageHelp : flag.help) + "\n\n";
        }
        if (!group.note.empty())
            text += ScdocText(group.note) + "\n\n";
    }
    return text;
}

std::string ScdocExamples(const FlagTable &table)
{
    std::string text;
    for (const FlagExample &example : table.examples)
        text += ScdocText(example.what) + ":\n\n```\n" + std::string(example.command) + "\n```\n\n";
    return text;
}

std::string BashCompletion(const FlagTable &table)
{
    std::string function = "_" + std::string(table.program);
    for (char &c : function)
        if (c == '-')
            c = '_';
    std::string cases;
    std::vector<std::string_view> files;
    std::vector<std::string_view> free;
    bool kinds = false;
    for (const FlagGroup &group : table.groups)
        for (const Flag &flag : group.flags) {
            if (flag.value.empty())
                continue;
            if (!flag.choices.empty()) {
                std::string words;
                for (const std::string &choice : flag.choices)
                    words += (words.empty() ? "" : " ") + choice;
                const std::string offer = "COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\"))";
                // KIND:WHERE: the kinds that take a path are followed by files.
                if (flag.choices.front().ends_with(':')) {
                    kinds = true;
                    cases +=
                        "    " + std::string(flag.name) +
                        ") if [[ $kind == file || $kind == unix-* ]]; then COMPREPLY=($(compgen -f -- \"$cur\"));\n"
                        "      elif [[ -z $kind ]]; then " +
                        offer + "; compopt -o nospace 2>/dev/null; fi; return ;;\n";
                } else {
                    cases += "    " + std::string(flag.name) + ") " + offer + "; return ;;\n";
                }
            } else if (flag.value.find("FILE") != std::string_view::npos ||
                       flag.value.find("PATH") != std::string_view::npos) {
                files.push_back(flag.name);
            } else {
                free.push_back(flag.name);
            }
        }
    std::string names = ShellWords(FlagNames(table));
    std::string fileFlags, freeFlags;
    for (std::string_view name : files)
        fileFlags += (fileFlags.empty() ? "" : "|") + std::string(name);
    for (std::string_view name : free)
        freeFlags += (freeFlags.empty() ? "" : "|") + std::string(name);
    std::string script = "# bash completion for " + std::string(table.program) + ", made from its flag table\n" +
                         function +
                         "()\n{\n"
                         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} kind=\n"
                         "  # --flag=value: bash splits at the '='\n"
                         "  if [[ $cur == = ]]; then cur=; prev=${COMP_WORDS[COMP_CWORD-1]};\n"
                         "  elif [[ $prev == = ]]; then prev=${COMP_WORDS[COMP_CWORD-2]}; fi\n";
    if (kinds)
        script +=
            "  # KIND:WHERE: and at the ':'\n"
            "  if [[ $cur == : ]]; then kind=$prev; cur=; prev=${COMP_WORDS[COMP_CWORD-2]};\n"
            "  elif [[ $prev == : ]]; then kind=${COMP_WORDS[COMP_CWORD-2]}; prev=${COMP_WORDS[COMP_CWORD-3]}; fi\n";
    script += "  case $prev in\n" + cases;
    if (!fileFlags.empty())
        script += "    " + fileFlags + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
    if (!freeFlags.empty())
        script += "    " + freeFlags + ") COMPREPLY=(); return ;;\n";
    script += "  esac\n"
              "  COMPREPLY=($(compgen -W '" +
              names + "' -- \"$cur\"))\n}\ncomplete -F " + function + " " + std::string(table.program) + "\n";
    return script;
}

std::function<Status(std::string_view)> SetsTrue(bool &field)
{
    return [&field](std::string_view) {
        field = true;
        return Status{};
    };
}

Flag HelpFlag(std::function<void()> given)
{
    return InfoFlag("--help", "-h", "print the help and exit", std::move(given));
}

Flag VersionFlag(std::function<void()> given)
{
    return InfoFlag("--version", {}, "print the version and exit", std::move(given));
}

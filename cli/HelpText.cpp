#include "cli/HelpText.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <set>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

namespace talmera::cli {
namespace {

constexpr size_t kDefaultWidth = 80;
constexpr size_t kMinWidth = 40;
constexpr size_t kMaxWidth = 200;
// CLI11's column of option descriptions.
constexpr size_t kDescriptionColumn = 30;

// Where a wrapped line continues: under an option's description, under the
// indent of an indented line, or at the margin.
size_t hangingIndent(const std::string& line) {
    const size_t lead = line.find_first_not_of(' ');
    if (lead == std::string::npos) return 0;
    if (lead == 2 && line.size() > kDescriptionColumn && line.compare(kDescriptionColumn - 2, 2, "  ") == 0 &&
        line[kDescriptionColumn] != ' ') {
        return kDescriptionColumn;
    }
    if (lead >= kDescriptionColumn) return lead;
    return lead == 0 ? 0 : lead + 2;
}

class WrappingFormatter : public CLI::Formatter {
public:
    explicit WrappingFormatter(size_t width) : width_(width) {}
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        return wrapHelp(CLI::Formatter::make_help(app, std::move(name), mode), width_);
    }

private:
    size_t width_;
};

// ---- man(7) ------------------------------------------------------------------

// Text safe in a roff line: backslashes and hyphens escaped, no line starting
// with a control character.
std::string roff(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\\') out += "\\e";
        else if (ch == '-') out += "\\-";
        else out += ch;
    }
    return out;
}

std::string roffLine(const std::string& text) {
    std::string out = roff(text);
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string optionNames(const CLI::Option& option) {
    std::string names;
    for (const std::string& s : option.get_snames()) names += (names.empty() ? "" : ", ") + std::string("\\fB\\-") + roff(s) + "\\fR";
    for (const std::string& l : option.get_lnames()) names += (names.empty() ? "" : ", ") + std::string("\\fB\\-\\-") + roff(l) + "\\fR";
    return names;
}

bool shown(const CLI::Option* option) { return !option->get_group().empty(); }

void writeOptions(const CLI::App& app, std::ostream& out) {
    // The positional arguments first, as the synopsis names them.
    std::vector<const CLI::Option*> options = app.get_options(shown);
    std::stable_partition(options.begin(), options.end(), [](const CLI::Option* o) { return o->get_positional(); });
    for (const CLI::Option* option : options) {
        out << ".TP\n";
        if (option->get_positional()) {
            out << "\\fI" << roff(option->get_name()) << "\\fR\n";
        } else {
            out << optionNames(*option);
            if (option->get_type_size() != 0 && !option->get_type_name().empty()) {
                out << " \\fI" << roff(option->get_type_name()) << "\\fR";
            }
            out << '\n';
        }
        std::string description = option->get_description();
        if (!option->get_default_str().empty() && !option->get_positional()) {
            description += " (default: " + option->get_default_str() + ")";
        }
        out << roffLine(description) << '\n';
    }
}

// A footer's paragraphs; lines indented by two spaces (the examples) as they are.
void writeFooter(const std::string& footer, std::ostream& out) {
    std::istringstream lines(footer);
    std::string line;
    bool literal = false;
    while (std::getline(lines, line)) {
        const bool indented = line.rfind("  ", 0) == 0;
        if (indented && !literal) out << ".PP\n.nf\n";
        if (!indented && literal) out << ".fi\n";
        literal = indented;
        if (line == "Examples:") {
            out << ".PP\n\\fBExamples:\\fR\n";
            continue;
        }
        if (!indented) out << ".PP\n";
        out << roffLine(indented ? line.substr(2) : line) << '\n';
    }
    if (literal) out << ".fi\n";
}

std::vector<const CLI::App*> commands(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App*) { return true; });
}

// ---- bash --------------------------------------------------------------------

std::string shellWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::vector<std::string> optionWords(const CLI::Option& option) {
    std::vector<std::string> words;
    for (const std::string& s : option.get_snames()) words.push_back("-" + s);
    for (const std::string& l : option.get_lnames()) words.push_back("--" + l);
    return words;
}

// What an option's value completes to: a list of words ("csv|tsv"), dir,
// file, table, or nothing.
std::string valueKind(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    if (type.find('|') != std::string::npos) return "words:" + std::string(type);
    if (type == "DIR") return "dir";
    if (type == "PATH" || type == "REPORT" || type == "FILE") return "file";
    if (type == "NAME") return "table";
    return "none";
}

}  // namespace

size_t helpWidth(bool outputIsTerminal) {
    size_t width = 0;
    winsize size{};
    if (outputIsTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) width = size.ws_col;
    if (width == 0) {
        if (const char* columns = std::getenv("COLUMNS")) {
            const std::string_view text(columns);
            std::from_chars(text.data(), text.data() + text.size(), width);
        }
    }
    if (width == 0) width = kDefaultWidth;
    return std::clamp(width, kMinWidth, kMaxWidth);
}

std::string wrapHelp(const std::string& text, size_t width) {
    std::string out;
    std::istringstream lines(text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (!first) out += '\n';
        first = false;
        const size_t indent = hangingIndent(line);
        while (line.size() > width) {
            // The last space that leaves the line within the width, past the indent.
            size_t cut = line.rfind(' ', width);
            while (cut != std::string::npos && cut > indent && line[cut - 1] == ' ') --cut;
            if (cut == std::string::npos || cut <= indent) {
                cut = line.find(' ', width);  // one long word: it stays whole
                if (cut == std::string::npos) break;
            }
            out += line.substr(0, cut) + '\n';
            const size_t rest = line.find_first_not_of(' ', cut);
            if (rest == std::string::npos) {
                line.clear();
                break;
            }
            line = std::string(indent, ' ') + line.substr(rest);
        }
        out += line;
    }
    if (!text.empty() && text.back() == '\n') out += '\n';
    return out;
}

std::shared_ptr<CLI::FormatterBase> wrappingFormatter(size_t width) {
    return std::make_shared<WrappingFormatter>(width);
}

void writeManPage(const CLI::App& app, const std::string& version, std::ostream& out) {
    const std::string name = app.get_name();
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    out << ".TH " << roff(upper) << " 1 \"\" \"" << roff(name + " " + version) << "\" \"User Commands\"\n";
    // Option names must not be hyphenated, nor the lines stretched around them.
    out << ".nh\n.ad l\n";
    out << ".SH NAME\n" << roff(name) << " \\- salvage the data of damaged Microsoft Access databases\n";
    out << ".SH SYNOPSIS\n";
    for (const CLI::App* command : commands(app)) {
        out << ".B " << roff(name) << "\n[\\fIOPTIONS\\fR] \\fB" << roff(command->get_name()) << "\\fR";
        for (const CLI::Option* option : command->get_options(shown)) {
            if (!option->get_positional()) continue;
            const bool required = option->get_required();
            out << ' ' << (required ? "" : "[") << "\\fI" << roff(option->get_name()) << "\\fR"
                << (option->get_expected_max() > 1 ? "..." : "") << (required ? "" : "]");
        }
        out << " [\\fIoptions\\fR]\n.br\n";
    }
    out << ".B " << roff(name) << "\n\\fBhelp\\fR [\\fICOMMAND\\fR]\n";
    out << ".SH DESCRIPTION\n" << roffLine(app.get_description()) << '\n';
    out << ".SH OPTIONS\nThese options go before or after the command.\n";
    writeOptions(app, out);
    out << ".SH COMMANDS\n";
    for (const CLI::App* command : commands(app)) {
        out << ".SS " << roff(command->get_name()) << '\n' << roffLine(command->get_description()) << ".\n";
        out << ".RS\n";
        writeOptions(*command, out);
        writeFooter(command->get_footer(), out);
        out << ".RE\n";
    }
    out << ".SS help\nPrints the help of the program, or of COMMAND (as COMMAND \\-\\-help).\n";
    std::string footer = app.get_footer();
    const size_t exit = footer.find("Exit status:");
    out << ".SH \"EXIT STATUS\"\n" << roffLine(exit == std::string::npos ? footer : footer.substr(exit + 13)) << '\n';
    if (exit != std::string::npos && exit > 0) {
        out << ".SH EXAMPLES\n";
        std::string examples = footer.substr(0, exit);
        if (examples.rfind("Examples:\n", 0) == 0) examples.erase(0, 10);
        writeFooter(examples, out);
    }
    out << ".SH \"SEE ALSO\"\n.BR sqlite3 (1),\n.BR mdb\\-export (1),\n.BR mdb\\-tables (1),\n.BR mdb\\-schema (1)\n";
}

void writeBashCompletion(const CLI::App& app, std::ostream& out) {
    const std::string name = app.get_name();
    std::string function = "_" + name;
    std::replace(function.begin(), function.end(), '-', '_');
    std::vector<std::string> names, global;
    for (const CLI::App* command : commands(app)) names.push_back(command->get_name());
    for (const CLI::Option* option : app.get_options(shown)) {
        for (const std::string& w : optionWords(*option)) global.push_back(w);
    }
    out << "# bash completion of " << name << " (written by `" << name << " --bash-completion`).\n";
    out << "# Commands, options, the values of options with a fixed set, folders,\n"
           "# Access files, and the tables of the FILE on the line.\n";
    out << function << "_tables() {\n"
        << "    local file=$1 cur=$2 table\n"
        << "    [ -f \"$file\" ] || return\n"
        << "    while IFS= read -r table; do\n"
        << "        [[ $table == \"$cur\"* ]] && COMPREPLY+=(\"$(printf '%q' \"$table\")\")\n"
        << "    done < <(\"${COMP_WORDS[0]}\" catalog --tables \"$file\" 2>/dev/null)\n"
        << "}\n\n";
    out << function << "() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        << "    local command= file= i word positional=0 takes=\n"
        << "    COMPREPLY=()\n"
        << "    # The command, the FILE and how many positional words came before.\n"
        << "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        << "        word=${COMP_WORDS[i]}\n"
        << "        if [ -n \"$takes\" ]; then takes=; continue; fi\n"
        << "        case $word in\n"
        << "            -*) " << function << "_takes \"$command\" \"$word\" && takes=1 ;;\n"
        << "            *) if [ -z \"$command\" ]; then command=$word\n"
        << "               else positional=$((positional + 1)); [ $positional -eq 1 ] && file=$word; fi ;;\n"
        << "        esac\n"
        << "    done\n"
        << "    if [ -z \"$command\" ]; then\n"
        << "        if [[ $cur == -* ]]; then\n"
        << "            COMPREPLY=($(compgen -W \"" << shellWords(global) << "\" -- \"$cur\"))\n"
        << "        else\n"
        << "            COMPREPLY=($(compgen -W \"" << shellWords(names) << " help\" -- \"$cur\"))\n"
        << "        fi\n"
        << "        return\n"
        << "    fi\n"
        << "    local options= values=\n"
        << "    case $command in\n"
        << "        help) [ $positional -eq 0 ] && COMPREPLY=($(compgen -W \"" << shellWords(names)
        << "\" -- \"$cur\")); return ;;\n";
    for (const CLI::App* command : commands(app)) {
        std::vector<std::string> words = global;
        std::string valueCases;
        bool tables = false;
        for (const CLI::Option* option : command->get_options(shown)) {
            if (option->get_positional()) {
                tables = tables || option->get_name() == "TABLE";
                continue;
            }
            const std::vector<std::string> optionNames = optionWords(*option);
            words.insert(words.end(), optionNames.begin(), optionNames.end());
            if (option->get_type_size() == 0) continue;
            std::string pattern;
            for (const std::string& w : optionNames) pattern += (pattern.empty() ? "" : "|") + w;
            valueCases += "                " + pattern + ") values='" + valueKind(*option) + "' ;;\n";
        }
        out << "        " << command->get_name() << ")\n"
            << "            options=\"" << shellWords(words) << "\"\n"
            << "            case $prev in\n"
            << valueCases << "            esac\n"
            << "            tables=" << (tables ? 1 : 0) << " ;;\n";
    }
    out << "    esac\n"
        << "    case $values in\n"
        << "        words:*) local IFS=$'|\\n'; COMPREPLY=($(compgen -W \"${values#words:}\" -- \"$cur\")); return ;;\n"
        << "        dir) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
        << "        file) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
        << "        table) " << function << "_tables \"$file\" \"$cur\"; return ;;\n"
        << "        none) return ;;\n"
        << "    esac\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        << "    elif [ $positional -eq 0 ]; then\n"
        << "        # FILE: Access databases and folders.\n"
        << "        compopt -o filenames 2>/dev/null\n"
        << "        local IFS=$'\\n' f\n"
        << "        for f in $(compgen -f -- \"$cur\"); do\n"
        << "            if [ -d \"$f\" ]; then COMPREPLY+=(\"$f\"); continue; fi\n"
        << "            case ${f,,} in *.mdb|*.accdb|*.mde|*.accde) COMPREPLY+=(\"$f\") ;; esac\n"
        << "        done\n"
        << "    elif [ \"$tables\" = 1 ]; then\n"
        << "        " << function << "_tables \"$file\" \"$cur\"\n"
        << "    fi\n"
        << "}\n\n";
    // Which options take a value, so that the value is not taken for the command or FILE.
    out << "# Whether option $2 of command $1 takes a value.\n"
        << function << "_takes() {\n"
        << "    case $1:$2 in\n";
    std::set<std::string> taking;
    for (const CLI::Option* option : app.get_options(shown)) {
        if (option->get_type_size() == 0) continue;
        for (const std::string& w : optionWords(*option)) taking.insert("*:" + w);
    }
    for (const CLI::App* command : commands(app)) {
        for (const CLI::Option* option : command->get_options(shown)) {
            if (option->get_positional() || option->get_type_size() == 0) continue;
            for (const std::string& w : optionWords(*option)) taking.insert(command->get_name() + ":" + w);
        }
    }
    std::string pattern;
    for (const std::string& t : taking) pattern += (pattern.empty() ? "" : "|") + t;
    if (!pattern.empty()) out << "        " << pattern << ") return 0 ;;\n";
    out << "    esac\n"
        << "    return 1\n"
        << "}\n\n"
        << "complete -F " << function << ' ' << name << '\n';
}

}  // namespace talmera::cli

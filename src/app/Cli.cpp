#include "app/Cli.h"

#include "backends/linux/LogSinks.h"
#include "base/Log.h"
#include "calculator/Calculator.h"
#include "launcher/AppSearch.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>
#include <ostream>
#include <span>

namespace quenlit::app {
namespace {

constexpr const char* kHelp =
    "usage: quenlit [--verbose] [COMMAND [ARGS...]]\n"
    "\n"
    "Quenlit is a keyboard-driven launcher and clipboard history for the desktop.\n"
    "\n"
    "Commands:\n"
    "  calc [--json] [--] TEXT...     evaluate TEXT as the launcher's calculator does\n"
    "  search [--json] [--] QUERY...  print the launcher's rows for QUERY, in order\n"
    "\n"
    "Options:\n"
    "  --verbose   write diagnostic log records to standard error\n"
    "  --version   print the version\n"
    "  --help      print this help\n";

struct TextArguments {
    bool json = false;
    std::vector<std::string> words;
};

// Everything after the subcommand is text, apart from one leading "--json" and then one leading
// "--", so "quenlit calc -5" and "quenlit calc --json -50%" both work.
TextArguments textArguments(std::span<const std::string> args) {
    TextArguments parsed;
    std::size_t i = 0;
    if (i < args.size() && args[i] == "--json") {
        parsed.json = true;
        ++i;
    }
    if (i < args.size() && args[i] == "--") ++i;
    parsed.words.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return parsed;
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) {
        if (&w != &words.front()) out.push_back(' ');
        out += w;
    }
    return out;
}

void writeString(rapidjson::Writer<rapidjson::StringBuffer>& w, const std::string& s) {
    w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

int runCalc(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    TextArguments parsed = textArguments(args);
    if (parsed.words.empty()) {
        err << "usage: quenlit calc [--json] [--] TEXT...\n";
        return 2;
    }
    auto result = Calculator::evaluate(joined(parsed.words));
    if (!result) {
        err << "not a calculation\n";
        return 1;
    }
    if (!parsed.json) {
        out << result->display << '\n';
        return 0;
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("expression");
    writeString(w, result->expression);
    w.Key("display");
    writeString(w, result->display);
    w.Key("copyText");
    writeString(w, result->copyText);
    w.EndObject();
    out << buffer.GetString() << '\n';
    return 0;
}

int runSearch(std::span<const std::string> args, std::ostream& out) {
    TextArguments parsed = textArguments(args);
    // Applications, profiles and the zoxide row join the catalogue as their sources land; the
    // command line has no front application and is not itself an installed entry.
    const std::vector<AppItem> apps;
    const auto rows = AppSearch::results(joined(parsed.words), apps, nullptr, std::nullopt, std::nullopt);
    for (const AppItem& row : rows) {
        if (!parsed.json) {
            out << row.name;
            if (row.profile) out << "  " << *row.profile;
            out << '\n';
            continue;
        }
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("id");
        writeString(w, row.id.toString());
        w.Key("name");
        writeString(w, row.name);
        w.Key("kind");
        writeString(w, std::string(row.kind.caseName()));
        w.Key("path");
        writeString(w, row.path);
        w.Key("secondary");
        if (row.profile) {
            writeString(w, *row.profile);
        } else {
            w.Null();
        }
        w.Key("running");
        w.Bool(row.isRunning);
        w.EndObject();
        out << buffer.GetString() << '\n';
    }
    return 0;
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::size_t i = 0;
    bool verbose = false;
    for (; i < args.size() && args[i].rfind("-", 0) == 0; ++i) {
        const std::string& option = args[i];
        if (option == "--verbose") {
            verbose = true;
        } else if (option == "--version") {
            out << "quenlit " << kVersion << '\n';
            return 0;
        } else if (option == "--help" || option == "-h") {
            out << kHelp;
            return 0;
        } else {
            err << "quenlit: unknown option '" << option << "' (see 'quenlit --help')\n";
            return 2;
        }
    }
    // The log file belongs to the desktop program: subcommands log to standard error, and only
    // when asked to.
    log::installSinks(verbose ? std::vector<std::shared_ptr<log::Sink>>{std::make_shared<linux_backend::StderrLogSink>()}
                              : std::vector<std::shared_ptr<log::Sink>>{});
    if (i == args.size()) {
        err << "quenlit: the desktop program is not part of this build yet; see 'quenlit --help'\n";
        return 2;
    }
    const std::string& command = args[i];
    std::span<const std::string> rest(args.data() + i + 1, args.size() - i - 1);
    if (command == "calc") return runCalc(rest, out, err);
    if (command == "search") return runSearch(rest, out);
    err << "quenlit: unknown command '" << command << "' (see 'quenlit --help')\n";
    return 2;
}

}  // namespace quenlit::app

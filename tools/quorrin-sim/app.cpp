#include "app.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>

#include "module_loader.h"
#include "outputs.h"
#include "quorrin/version.h"
#include "scenario.h"
#include "session.h"

namespace sim {

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool err_is_terminal) {
    CLI::App app{"quorrin-sim: loads the quorrin module, plays a download session with the reference host and prints "
                 "every report the plug-in submits (one JSON object a line) and a summary.",
                 "quorrin-sim"};
    std::string module_path = refhost::plugin_module::default_path();
    std::string scenario_path, out_path, html_path, builtin = "short", clock = "real";
    std::uint64_t seed = 1;
    bool quiet = false, print_scenario = false, check_only = false, show_version = false;
    app.add_option("--module", module_path, "the module to load (default: the one next to this program)");
    app.add_option("--scenario", scenario_path, "a scenario in JSON (default: the built-in one)");
    app.add_option("--builtin", builtin, "which built-in scenario: short (the default), busy-day or wrap-soak")
        ->check(CLI::IsMember(builtin_scenario_names()));
    app.add_option("--seed", seed, "the seed that busy-day and wrap-soak are made from (default 1)");
    app.add_option("--clock", clock,
                   "real (the default): the session takes its own time; virtual: the simulator sets the module's "
                   "clock and the session runs as fast as it can")
        ->check(CLI::IsMember({"real", "virtual"}));
    app.add_option("--out", out_path, "write the reports there instead of standard output");
    app.add_option("--html", html_path, "write a page with every reported task's figures and speed chart");
    app.add_flag("--quiet", quiet, "no progress lines on standard error (the summary stays)");
    app.add_flag("--print-scenario", print_scenario, "print the built-in scenario's JSON and exit");
    app.add_flag("--check", check_only, "check the scenario file and exit without running it");
    app.add_flag("--version", show_version, "print the release this program belongs to and exit");
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        err << "quorrin-sim: " << e.what() << "\nRun with --help for the options.\n";
        return 2;
    }

    if (show_version) {
        out << "quorrin-sim " << QUORRIN_VERSION << "\n";
        return 0;
    }
    if (print_scenario) {
        out << builtin_scenario_text(builtin, seed);
        return 0;
    }
    scenario s;
    try {
        s = scenario_path.empty() ? builtin_scenario(builtin, seed) : load_scenario_file(scenario_path);
    } catch (const scenario_error& e) {
        err << "quorrin-sim: " << e.what() << "\nNothing was run.\n";
        return 2;
    }
    if (check_only) {
        err << "quorrin-sim: " << s.source << ": " << s.tasks.size() << " task(s), ok\n";
        return 0;
    }
    // Hours of a busy host are for virtual time: in real time they would take those hours.
    constexpr std::uint32_t kLongestRealSessionMs = 3600000;
    if (clock == "real" && s.duration_ms && *s.duration_ms > kLongestRealSessionMs) {
        err << "quorrin-sim: " << s.source << ": a session in real time lasts at most an hour (" << kLongestRealSessionMs
            << " ms), this one " << *s.duration_ms << " ms; run it with --clock virtual\nNothing was run.\n";
        return 2;
    }

    std::ofstream out_file, html_file;
    if (!out_path.empty()) {
        out_file.open(out_path, std::ios::binary | std::ios::trunc);
        if (!out_file) {
            err << "quorrin-sim: cannot write " << out_path << "\nNothing was run.\n";
            return 2;
        }
    }
    if (!html_path.empty()) {
        html_file.open(html_path, std::ios::binary | std::ios::trunc);
        if (!html_file) {
            err << "quorrin-sim: cannot write " << html_path << "\nNothing was run.\n";
            return 2;
        }
    }

    session_options options;
    options.module_path = module_path;
    options.reports_out = out_path.empty() ? &out : &out_file;
    options.progress = quiet ? nullptr : &err;
    options.status_line = err_is_terminal;
    options.virtual_time = clock == "virtual";
    const session_result result = run_session(s, options);

    bool page_written = true;
    if (html_file.is_open()) {
        write_html(html_file, s, result);
        html_file.close();
        page_written = !html_file.fail();
    }
    write_summary(err, s, result);
    if (!result.failures.empty()) {
        err << "quorrin-sim: the session failed: " << result.failures.front() << '\n';
        return 1;
    }
    if (!page_written) {
        err << "quorrin-sim: writing " << html_path << " failed\n";
        return 1;
    }
    return 0;
}

}  // namespace sim

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
    std::string scenario_path, out_path, html_path;
    bool quiet = false, print_scenario = false, check_only = false, show_version = false;
    app.add_option("--module", module_path, "the module to load (default: the one next to this program)");
    app.add_option("--scenario", scenario_path, "a scenario in JSON (default: the built-in one)");
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
        out << builtin_scenario_text();
        return 0;
    }
    scenario s;
    try {
        s = scenario_path.empty() ? builtin_scenario() : load_scenario_file(scenario_path);
    } catch (const scenario_error& e) {
        err << "quorrin-sim: " << e.what() << "\nNothing was run.\n";
        return 2;
    }
    if (check_only) {
        err << "quorrin-sim: " << s.source << ": " << s.tasks.size() << " task(s), ok\n";
        return 0;
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

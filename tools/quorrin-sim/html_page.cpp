#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <tuple>
#include <vector>

#include "outputs.h"

namespace sim {

namespace {

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return out;
}

std::string number(double v, const char* format = "%.0f") {
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string value_text(const refhost::data_value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* s = std::get_if<std::string>(&v)) return "\"" + *s + "\"";
    if (const auto* n = std::get_if<refhost::node_ptr>(&v); n && *n) return "object \"" + (*n)->name + "\"";
    return "null";
}

struct point {
    double x;  // seconds after the click
    double avgs, g_dl, g_up;
    bool high;
};

std::vector<point> points_of(const refhost::data_node& report) {
    std::vector<point> points;
    const std::int64_t click = report.integer("click_time");
    for (const char* list : {"low_speed_point_list", "high_speed_point_list"}) {
        const refhost::data_node* l = report.child(list);
        if (!l) continue;
        for (std::int64_t i = 0; i < l->integer("count"); ++i) {
            const refhost::data_node* p = l->child(std::to_string(i));
            if (!p) continue;
            points.push_back({static_cast<double>(p->integer("time") - click), static_cast<double>(p->integer("avgs")),
                              static_cast<double>(p->integer("g_dl_speed")), static_cast<double>(p->integer("g_up_speed")),
                              list[0] == 'h'});
        }
    }
    return points;
}

// A round step for about five grid lines up to top.
double grid_step(double top) {
    double step = 1;
    while (step * 10 <= top) step *= 10;
    if (top / step < 2) return step / 5;
    if (top / step < 5) return step / 2;
    return step;
}

void write_chart(std::ostream& out, const task_plan& t, const refhost::data_node& report) {
    const std::vector<point> points = points_of(report);
    double span = 1;
    for (const point& p : points) span = std::max(span, p.x);
    span = std::max(span, static_cast<double>(report.integer("timef_click")));
    const double xstep = grid_step(span);
    span = xstep * std::ceil(span / xstep);
    double top = 1;
    for (const point& p : points) top = std::max({top, p.avgs, p.g_dl, p.g_up});
    const double W = 760, H = 300, L = 80, R = 20, T = 20, B = 40;
    const double step = grid_step(top * 1.1);
    top = step * (static_cast<long>(top * 1.1 / step) + 1);
    auto sx = [&](double x) { return L + (W - L - R) * std::clamp(x, 0.0, span) / span; };
    auto sy = [&](double y) { return T + (H - T - B) * (1 - std::min(y, top) / top); };

    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W
        << ' ' << H << "\" role=\"img\" aria-label=\"speed points of task " << t.id << "\">\n";
    out << "<rect x=\"" << L << "\" y=\"" << T << "\" width=\"" << W - L - R << "\" height=\"" << H - T - B
        << "\" fill=\"#fafafa\" stroke=\"#999\"/>\n";
    for (double y = 0; y <= top + step / 2; y += step) {
        out << "<line x1=\"" << L << "\" x2=\"" << W - R << "\" y1=\"" << number(sy(y), "%.1f") << "\" y2=\""
            << number(sy(y), "%.1f") << "\" stroke=\"#e0e0e0\"/><text x=\"" << L - 6 << "\" y=\"" << number(sy(y) + 4, "%.1f")
            << "\" text-anchor=\"end\" font-size=\"11\">" << escape(speed_text(static_cast<std::uint64_t>(y))) << "</text>\n";
    }
    for (double x = 0; x <= span + xstep / 2; x += xstep) {
        out << "<line y1=\"" << T << "\" y2=\"" << H - B << "\" x1=\"" << number(sx(x), "%.1f") << "\" x2=\""
            << number(sx(x), "%.1f") << "\" stroke=\"#eee\"/><text x=\"" << number(sx(x), "%.1f") << "\" y=\"" << H - B + 16
            << "\" text-anchor=\"middle\" font-size=\"11\">" << number(x, "%g") << "</text>\n";
    }
    out << "<text x=\"" << (L + W - R) / 2 << "\" y=\"" << H - 6
        << "\" text-anchor=\"middle\" font-size=\"12\">seconds after the click</text>\n";

    // Global speeds at the kept points, in time order, as lines.
    std::vector<point> by_time = points;
    std::sort(by_time.begin(), by_time.end(), [](const point& a, const point& b) { return a.x < b.x; });
    for (const auto& [field, colour, dash] : {std::tuple<double point::*, const char*, const char*>{&point::g_dl, "#777", ""},
                                              {&point::g_up, "#2a9d5c", " stroke-dasharray=\"5 3\""}}) {
        out << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.5\"" << dash << " points=\"";
        for (const point& p : by_time) out << number(sx(p.x), "%.1f") << ',' << number(sy(p.*field), "%.1f") << ' ';
        out << "\"/>\n";
    }
    for (const point& p : points) {
        const std::string x = number(sx(p.x), "%.1f"), y = number(sy(p.avgs), "%.1f");
        const std::string tip = "<title>" + std::string(p.high ? "high" : "low") + " point at " + number(p.x, "%g") +
                                " s: " + escape(speed_text(static_cast<std::uint64_t>(p.avgs))) + "</title>";
        if (p.high) {
            out << "<rect x=\"" << number(sx(p.x) - 6, "%.1f") << "\" y=\"" << number(sy(p.avgs) - 6, "%.1f")
                << "\" width=\"12\" height=\"12\" fill=\"none\" stroke=\"#d9480f\" stroke-width=\"2\">" << tip << "</rect>\n";
        } else {
            out << "<circle cx=\"" << x << "\" cy=\"" << y << "\" r=\"4\" fill=\"#1c6dd0\">" << tip << "</circle>\n";
        }
    }
    out << "</svg>\n";
    out << "<p class=\"legend\"><span style=\"color:#1c6dd0\">&#9679; low-speed points</span> "
           "<span style=\"color:#d9480f\">&#9633; high-speed points</span> "
           "<span style=\"color:#777\">&#8212; g_dl_speed</span> "
           "<span style=\"color:#2a9d5c\">- - g_up_speed</span> (global speeds at the kept points)</p>\n";
}

std::string address_list(const refhost::data_node* list) {
    if (!list) return "null";
    std::string out;
    for (std::int64_t i = 0; i < list->integer("count"); ++i) {
        out += (i ? ", " : "") + refhost::dotted(static_cast<std::uint32_t>(list->integer(std::to_string(i))));
    }
    return out.empty() ? "(none)" : out;
}

}  // namespace

void write_html(std::ostream& out, const scenario& s, const session_result& r) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>quorrin-sim: " << escape(s.source)
        << "</title>\n<style>body{font-family:sans-serif;margin:2em;max-width:70em}table{border-collapse:collapse;"
           "margin:.5em 0}td,th{border:1px solid #ccc;padding:2px 8px;text-align:left;font-size:13px}"
           "td.n{text-align:right;font-family:monospace}section{margin-bottom:2.5em}.legend{font-size:13px}"
           ".row{display:flex;gap:1.5em;align-items:flex-start;flex-wrap:wrap}</style></head><body>\n";
    out << "<h1>quorrin-sim: " << escape(s.source) << "</h1>\n<p>" << s.tasks.size() << " task(s), " << r.reports.size()
        << " report(s), " << r.timer_ticks << " timer tick(s), " << number(static_cast<double>(r.session_ms) / 1000.0, "%.1f")
        << " s. " << (r.failures.empty() ? "The session went as a host expects." : "The session FAILED.") << "</p>\n";

    out << "<table><tr><th>task</th><th>name</th><th>verdict</th><th>why</th></tr>\n";
    for (std::size_t i = 0; i < s.tasks.size(); ++i) {
        out << "<tr><td class=\"n\">" << s.tasks[i].id << "</td><td>" << escape(s.tasks[i].name) << "</td><td>"
            << verdict_text(r.tasks[i].result) << "</td><td>" << escape(r.tasks[i].detail) << "</td></tr>\n";
    }
    out << "</table>\n";

    static const char* const figures[] = {"task_type", "click_type", "cid", "gcid", "filesize", "click_time",
                                          "timeb_click", "bytesb_click", "avgb_click", "timef_click", "bytesf_click",
                                          "avgf_click", "unreg_reason", "sample_interval", "peerid", "external_ip",
                                          "bandwidth", "dl_speed_limit"};
    for (std::size_t i = 0; i < s.tasks.size(); ++i) {
        if (r.tasks[i].report < 0) continue;
        const refhost::data_node& report = r.reports[static_cast<std::size_t>(r.tasks[i].report)].tree;
        out << "<section><h2>Task " << s.tasks[i].id << ": " << escape(s.tasks[i].name) << "</h2>\n<div class=\"row\"><table>\n";
        for (const char* key : figures) {
            if (const refhost::data_value* v = report.find(key)) {
                out << "<tr><th>" << key << "</th><td class=\"n\">" << escape(value_text(*v)) << "</td></tr>\n";
            }
        }
        out << "<tr><th>cdn_ip_list</th><td class=\"n\">" << escape(address_list(report.child("cdn_ip_list")))
            << "</td></tr>\n</table>\n<div>";
        write_chart(out, s.tasks[i], report);
        out << "</div></div></section>\n";
    }
    out << "</body></html>\n";
}

}  // namespace sim

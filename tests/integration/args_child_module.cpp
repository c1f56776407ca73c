// A library the args child loads: command_line_arguments() as code in a
// library (a DLL on Windows) gets it, reported as "d".
#include <wexal/u8port/args.hpp>

#include <cstdio>

void report_module_arguments(std::FILE* report) {
    for (const auto& s : wexal::u8port::command_line_arguments()) std::fprintf(report, "d %s\n", s.c_str());
}

// skelvane-cli: the command-line front end for scripts and render farms.
#include <CLI/CLI.hpp>

int main(int argc, char** argv)
{
    CLI::App app{"Skelvane: cube maps and panoramas to fulldome masters"};
    app.require_subcommand(1);
    CLI11_PARSE(app, argc, argv);
    return 0;
}

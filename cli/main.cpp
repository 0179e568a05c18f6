// quorvel-cli: the headless front end. With one INPUT and OUTPUT its result
// is what the desktop programs show after opening INPUT and running the
// adjustment with the given options; with --out-dir it does that for whole
// folders in parallel; --detect tells each map's green convention, --check
// what is wrong with it and --fix repairs it.
#include <cstdio>
#include <string>

#include "cli/cli.h"

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    switch (parseArguments(argc, argv, args, error)) {
        case ParseResult::help: std::fputs(helpText().c_str(), stdout); return exitOk;
        case ParseResult::version: std::printf("quorvel-cli %s\n", QUORVEL_VERSION); return exitOk;
        case ParseResult::usage: return usageError(error);
        case ParseResult::run: break;
    }
    if (args.check.check || args.check.fix) return runCheck(args);
    if (args.detect) return runDetect(args);
    if (args.make.toHeight && !args.outDir) return runToHeight(args);
    if (args.outDir) return runFolder(args);
    return runOneFile(args);
}

// The tarn program: hands its arguments and standard streams to the shell,
// with prompts when standard input is a terminal, and stops the engine after.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "tools/tarn_shell.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  tarn::tools::TShellTerminal terminal;
  terminal.Interactive = isatty(STDIN_FILENO) != 0;
  const int code = tarn::tools::RunTarnShell(args, std::cin, std::cout, std::cerr, terminal);
  std::cout.flush();
  tarn::ExitTarn();
  return code;
}

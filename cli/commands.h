// The commands of tarvik-update-cli: each is a type that puts its own options
// on the line, says what it cannot make sense of, and runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

namespace tarvik {

class CliCommand {
 public:
  virtual ~CliCommand() = default;

  // Puts the command and its own options on the line's parser.
  void AddTo(CLI::App& line) { m_command = Define(line); }
  bool Chosen() const { return m_command && m_command->parsed(); }
  // What is wrong with the parsed line for this command; empty when nothing is.
  std::string UsageProblem(const CLI::App& line) const;
  // Runs the command; returns the process's exit status.
  virtual int Run(const GlobalOptions& global) = 0;

 protected:
  // A global option this command has no use for, and why.
  struct Unused {
    const char* option;
    const char* why;
  };
  // Adds the subcommand with its options; returns it.
  virtual CLI::App* Define(CLI::App& line) = 0;
  virtual std::vector<Unused> UnusedOptions() const { return {}; }
  // The command's own checks of its options, after the line parsed.
  virtual std::string CheckOwnOptions() const { return ""; }

 private:
  CLI::App* m_command = nullptr;
};

// Every command, in the order of the help text: run, flash, info, image, list, history.
std::vector<std::unique_ptr<CliCommand>> MakeCommands();

std::unique_ptr<CliCommand> MakeRunCommand();
std::unique_ptr<CliCommand> MakeFlashCommand();
std::unique_ptr<CliCommand> MakeInfoCommand();
std::unique_ptr<CliCommand> MakeImageCommand();
std::unique_ptr<CliCommand> MakeListCommand();
std::unique_ptr<CliCommand> MakeHistoryCommand();

}  // namespace tarvik

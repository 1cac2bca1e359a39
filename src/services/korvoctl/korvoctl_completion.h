// korvoctl_completion: the bash completion script of korvoctl, made from
// the same command table that "--help" prints, so a new subcommand or
// operation completes as soon as it is registered. One thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The words a synopsis offers for completion: its keywords ("list",
// "--start"; alternatives split at "|", brackets and "..." removed), in
// order, without the upper-case placeholders ("GROUP", "FILE").
std::vector<std::string> KorvoCtl_CompletionWords(const char *synopsis);

// Writes the bash completion script for every registered command to `out`.
void KorvoCtl_PrintBashCompletion(FILE *out);

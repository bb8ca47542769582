#pragma once
// The module is built with hidden symbols; only the entry points of the package protocol and
// the screen factories are exported, under their plain C names.
#define FIS_MODULE_EXPORT __attribute__((visibility("default")))

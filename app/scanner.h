// The command exchange with the scanner: one three-character command and a
// carriage return out, one reply line back within 500 ms; and the five
// queries built on it, which check and reshape their replies for the
// polling cycle. Results: 0 success, 1 failure.
#pragma once

#include <cstdint>

// The scanner family's command set, in one place so that another family is
// one edit: the five command codes and the texts naming the two models.
enum ScannerCommand { CMD_MODEL, CMD_INFO, CMD_LEVEL, CMD_TUNING, CMD_SIGNAL };
struct ScannerCommandSet {
    char* codes[5];        // by ScannerCommand
    char* model_texts[2];  // model A, model B
};
extern const ScannerCommandSet scanner_commands;

// Reply buffers are the caller's and hold 256 characters; a reply keeps at
// most 127. On failure the reply holds the time-out or overflow text.
int32_t scanner_query(char* command, char* reply);

int32_t query_model(char* reply);  // also sets mon.model_a and mon.model_b
int32_t query_info(char* reply);
int32_t query_level(int32_t* level);
int32_t query_tuning(char* reply);  // reply becomes "<reading> <frequency>", at least 12 wide
int32_t query_signal(char* reply);  // also draws the help line

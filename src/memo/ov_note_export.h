// Writes every note as a picture: the ink over the paper colour of its kind,
// 512x512 PNG, named by creation time and kind. Notes in the bin go to the
// "recycle" folder of the output. Reads the data folder and never changes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OvExportResult {
  int written = 0;
  std::vector<std::string> skipped;  // "path: reason", one per note not written
};

// Paper colours of kinds 0-3 (0xAARRGGBB, alpha ignored).
extern const uint32_t OV_NOTE_PAPER_COLOURS[4];

// "20261207T115751.1234567Z-kind2.png" for a note file name; empty when the
// name is no note name.
std::string OvExportFileName(const std::string& noteFile);

// Composites a BGRA note image onto the paper: RGBA, opaque.
void OvCompositeNote(const uint8_t* bgra, uint32_t paper, std::vector<uint8_t>& rgba);

// False when a folder cannot be listed or created, or any note was skipped;
// every skipped note is traced and listed.
bool OvExportNotes(const std::string& dataFolder, const std::string& outFolder, OvExportResult& result);

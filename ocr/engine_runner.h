// The "-ocr" operation: finds the OCR engine beside the executable, makes
// sure its language data is there, runs it on one page and turns its hOCR
// result into the box list and, with "-boxpic", the box picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ocr/hocr.h"
#include "options/tool_options.h"

namespace sheetmend::ocr {

// The engine file names tried beside the executable, in this order.
inline constexpr const char* kEngineNames[] = {"Qtess.dll", "ocr.exe", "ocrsdk.exe", "ocrsdk.dll"};

// Writes the box files derived from outputPath (the output image itself is
// not written). Always 1: OCR problems are reported, never fatal to a batch.
int32_t RunOcr(const std::string& inputPath, const std::string& outputPath, int32_t pageIndex,
               const ToolOptions& options);

// RunOcr's work on one page, handing back the page's lines and words in
// `text` as well. 1 when the engine gave a result (with or without words),
// 0 when it did not (it was not found, or its result is missing or cannot be
// read; a message said so).
int32_t OcrPageText(const std::string& inputPath, const std::string& outputPath, int32_t pageIndex,
                    const ToolOptions& options, PageText& text);

// Recognises the page and writes the box picture (when its path is not
// empty) and appends to the box list. 1 when words were found and the list
// written, else 0.
int32_t OcrPage(const std::string& inputPath, const std::string& boxListPath,
                const std::string& boxPicturePath, const std::string& language);

// Runs the engine on the page and reads its hOCR file into `words` (and its
// lines and whole words into `text`, when given). 1 when an hOCR file was
// read, else 0.
int32_t RecognizePage(const std::string& inputPath, std::vector<OcrWord>& words,
                      const std::string& language, PageText* text = nullptr);

// The full path of the first engine file in `programDir` (ending in '/'),
// or "" with the error line when there is none. The overload without a folder
// looks beside the executable.
std::string FindOcrEngine(const std::string& programDir);
std::string FindOcrEngine();

// The command line the engine is started with, as it has always been written
// for the Windows command interpreter:
//   ""engine" "input" "output base" arguments > nul"
// The three paths are quoted so that the Windows splitting rules give each
// back whole, whatever characters it holds.
std::string EngineCommandLine(const std::string& engine, const std::string& inputPath,
                              const std::string& outputBase, const std::string& arguments);

// The arguments the engine receives from that line, program first.
std::vector<std::string> EngineArguments(const std::string& engine, const std::string& inputPath,
                                         const std::string& outputBase,
                                         const std::string& arguments);

// Runs the engine with TESSDATA_PREFIX set to `programDir` (ending in '/')
// in its environment and its standard output thrown away, waits for it and
// prints the time it took.
void RunOcrEngine(const std::string& engine, const std::string& inputPath,
                  const std::string& outputBase, const std::string& arguments,
                  const std::string& programDir);
void RunOcrEngine(const std::string& engine, const std::string& inputPath,
                  const std::string& outputBase, const std::string& arguments);

// 1 when the path is not empty and names a file (not a folder) that can be
// opened for reading.
int32_t FileExists(const std::string& path);

}  // namespace sheetmend::ocr

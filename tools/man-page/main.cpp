// sheetmend_manpage OUT.1 OUT.1.gz VERSION
//
// Writes the manual page sheetmend(1), plain and gzip-compressed, from the
// option table the program itself parses with, so that the page lists the
// same options, in the same order and with the same help, as the usage text.
// The rest of the page (exit status, environment, external programs,
// examples) is written here.
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/options.h"

namespace {

// Text set in roff: backslashes written as \e, every '-' as the \- minus
// that man pages use for options, and a line never starts with a control
// character.
std::string Roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

const char* ValueName(int32_t type) {
    switch (type) {
        case sheetmend::kOptionInteger:
        case sheetmend::kOptionHiddenInteger:
            return "int";
        case sheetmend::kOptionNumber:
        case sheetmend::kOptionHiddenNumber:
            return "fp";
        case sheetmend::kOptionText:
        case sheetmend::kOptionHiddenText:
            return "string";
        default:
            return nullptr;
    }
}

// One tagged paragraph per option; names that share one field and one help
// text (-h, -help, --help, -?) share the paragraph. Help texts of several
// lines keep their lines.
std::string OptionsSection(const sheetmend::OptionTable& table) {
    std::string out = ".SH OPTIONS\n";
    for (size_t i = 0; i < table.size();) {
        size_t end = i + 1;
        while (end < table.size() && table[end].target == table[i].target &&
               table[end].helpText == table[i].helpText)
            ++end;
        out += ".TP\n";
        for (size_t k = i; k < end; ++k) {
            if (k > i) out += ", ";
            out += "\\fB" + Roff(table[k].name) + "\\fR";
            if (const char* value = ValueName(table[k].type))
                out += std::string(" \\fI") + value + "\\fR";
        }
        out += "\n";
        const std::string& help = table[i].helpText;
        size_t start = 0;
        bool first = true;
        while (start <= help.size()) {
            size_t stop = help.find('\n', start);
            if (stop == std::string::npos) stop = help.size();
            std::string line = help.substr(start, stop - start);
            line.erase(0, line.find_first_not_of(" \t"));
            if (!line.empty()) {
                if (!first) out += ".br\n";
                out += Roff(line) + "\n";
                first = false;
            }
            start = stop + 1;
        }
        i = end;
    }
    return out;
}

const char* const kHead = R"(.SH NAME
sheetmend \- clean and analyse scanned page images in batches
.SH SYNOPSIS
.B sheetmend
[\fIoptions\fR] \fIin\-file\fR [\fIout\-file\fR]
.SH DESCRIPTION
.B sheetmend
runs one operation on every input file, chosen from the options in this
order: OCR of the page through the OCR engine (\fB\-ocr\fR), its own deskew
and despeckle (\fB\-deskew2\fR, \fB\-despeckle2\fR), layout analysis
(\fB\-layout\fR), black border removal (\fB\-removeborder\fR), margin
trimming (\fB\-trimmargin\fR), removal of black lines and boxing of ink
objects (\fB\-removelongline\fR, \fB\-removeshortline\fR, \fB\-boxobjects\fR),
and otherwise plain conversion: resize, rotate, threshold, dither, flip,
mirror, bit depth, deskew and despeckle through \fBunpaper\fR, and file
format.
.PP
The input is a file, a directory (every file in it) or a wildcard pattern
in quotes. The output format follows the output's extension; without an
output, a PNG file beside the input is written. An existing output file is
never overwritten: a numbered name is used instead, or \fB\-skip\fR skips
the file. With \fB\-ocr\fR the output image is not written; the words and
their boxes go to \fIname\fR\-\fIpage\fR.box.txt, and with \fB\-boxpic\fR
a picture of them to \fIname\fR\-\fIpage\fR.box.png.
.PP
A multi\-page TIFF or PDF is processed page by page into one multi\-page
output, or into numbered files for formats that hold one image.
)";

const char* const kTail = R"(.SH EXIT STATUS
The result of the last file processed:
.TP
.B 1
it succeeded.
.TP
.B 0
it failed.
.TP
.B 254
a bad command line, a help or version request, or an input that names no
file.
.SH ENVIRONMENT
.TP
.B SHEETMEND_JOBS
The number of files worked on at once; by default one per processor. A
value that is not a positive number is ignored. The result is the same as
with one worker.
.TP
.B SHEETMEND_LANGDATA_URL
The scheme and host of a server holding OCR language packages. When it is
set, a language whose data is missing is downloaded from it; when it is
not, the Debian package that provides the language is named instead.
.TP
.B OMP_THREAD_LIMIT
The OCR engine's threads per page; 1 unless set.
.TP
.B TMPDIR
Where the run's private temporary folder is made; \fI/tmp\fR when unset.
.SH FILES
The program and the external programs it starts lie together in
\fI/usr/lib/sheetmend/\fR (or \fIlib/sheetmend/\fR under the installation
prefix); \fBsheetmend\fR on the path is a link to it.
.TP
.I ocr.exe
the OCR engine adapter, which runs \fBtesseract\fR(1).
.TP
.I tessdata
a link to the system's tesseract language data folder: every installed
\fBtesseract\-ocr\-\fR\fIlang\fR package is found there.
.TP
.I mendkit.dll
\fBunpaper\fR(1), for \fB\-deskew\fR and \fB\-despeckle\fR.
.TP
.I imgconv.dll
ImageMagick's \fBconvert\fR(1), for \fB\-removeborder\fR.
.TP
.IR wget.exe ", " 7z.exe
\fBwget\fR(1) and \fB7z\fR(1), which fetch and unpack OCR language
packages from a configured server.
.SH EXAMPLES
Straighten and clean every TIFF of a folder into PNG files:
.PP
.RS
sheetmend \-deskew \-despeckle 'scans/*.tif' 'out/*.png'
.RE
.PP
Turn a folder of scans into black\-and\-white PDF pages:
.PP
.RS
sheetmend \-threshold 0 scans/ pdfs/
.RE
.PP
Remove ruling lines longer than 100 pixels:
.PP
.RS
sheetmend \-removelongline 100 form.png clean.png
.RE
.PP
Read the words of a German and English page, with a picture of the boxes:
.PP
.RS
sheetmend \-ocr \-lang deu+eng \-boxpic page.tif page.png
.RE
.PP
Add an OCR language (French) and use it:
.PP
.RS
apt\-get install tesseract\-ocr\-fra
.br
sheetmend \-ocr \-lang fra letter.png letter.png
.RE
.SH SEE ALSO
\fBtesseract\fR(1), \fBunpaper\fR(1), \fBconvert\fR(1), \fBwget\fR(1), \fB7z\fR(1)
)";

bool WriteAll(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// Compressed as Debian wants manual pages: the best level, no name, no time.
bool WriteGzip(const std::string& path, const std::string& text) {
    gzFile f = gzopen(path.c_str(), "wb9");
    if (!f) return false;
    const bool ok = gzwrite(f, text.data(), static_cast<unsigned>(text.size())) ==
                    static_cast<int>(text.size());
    return gzclose(f) == Z_OK && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sheetmend_manpage OUT.1 OUT.1.gz VERSION\n");
        return 2;
    }
    sheetmend::ToolOptions options;
    const std::string page = std::string(".TH SHEETMEND 1 \"\" \"Sheetmend ") + argv[3] +
                             "\" \"User Commands\"\n.nh\n" + kHead +
                             OptionsSection(sheetmend::BuildOptionTable(options)) + kTail;
    if (!WriteAll(argv[1], page) || !WriteGzip(argv[2], page)) {
        std::fprintf(stderr, "sheetmend_manpage: cannot write %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}

/* The export library: opens PDF documents and exports page ranges as RTF or images.
 *
 * A plain C interface, loaded at run time by the converter. Texts are NUL-terminated UTF-8;
 * numbers are 32-bit signed integers; pages count from 1. Every function may be called from
 * any one thread at a time per handle; the progress routine is called on the calling thread.
 */
#ifndef LUMADOC_PDFTOX_H
#define LUMADOC_PDFTOX_H

#ifdef __cplusplus
extern "C" {
#endif

#define PDFTOX_EXPORT __attribute__((visibility("default")))

/* Called after each page of an export with the first page of the range, the last page of the
 * range and the pages done so far (1, 2, ... in increasing order). Returns 1. */
typedef int (*ExportProgressFn)(int firstPage, int lastPage, int pagesDone);

/* Results of OpenPDF besides a handle (a positive number). No function of the library lets an
 * exception or a MuPDF error escape: a failure inside one is its failure result. */
#define PDFTOX_CANNOT_OPEN (-1)    /* missing, not a PDF, damaged beyond repair */
#define PDFTOX_NEEDS_PASSWORD (-2) /* protected and no password was given */
#define PDFTOX_WRONG_PASSWORD (-3) /* neither the user nor the owner password */
#define PDFTOX_NO_PAGES (-4)       /* a PDF, but without a single page */

/* Results of the exports: the number of image files or pages written (0 or more), or one of
 * these. An image export that fails part-way keeps the whole images it wrote. */
/* `handle` is no handle of OpenPDF, or was closed (also GetPageNum's result then) */
#define PDFTOX_BAD_HANDLE (-10)
/* ExportRTF: `outputPath` NULL or empty; ExportIMG: `folder` NULL or empty, `imageTypeCode`
 * none of the codes below, or `resolution` outside 1..2400 */
#define PDFTOX_BAD_ARGUMENT (-11)
/* the output could not be written: the folder is missing, read-only or forbidden, or another
 * write error; also any other failure inside the export (out of memory) */
#define PDFTOX_WRITE_FAILED (-12)
/* the output could not be written: no space left */
#define PDFTOX_DISK_FULL (-13)
/* StopExports() ended the export; no partial file stays */
#define PDFTOX_STOPPED (-14)
/* ExportRTF: the output's name or path is longer than the file system takes */
#define PDFTOX_NAME_TOO_LONG (-15)

/* Image type codes of ExportIMG (`imageTypeCode`); files end in .bmp, .jpg, .tif, .png, .gif. */
#define PDFTOX_BMP 1
#define PDFTOX_JPEG 2
#define PDFTOX_TIFF 3
#define PDFTOX_PNG 4
#define PDFTOX_GIF 5

/* Opens the PDF at `path`. `password` may be NULL or empty for none; it is tried as user and
 * as owner password. A damaged file that can be repaired opens. Returns a handle, or
 * PDFTOX_CANNOT_OPEN, PDFTOX_NEEDS_PASSWORD, PDFTOX_WRONG_PASSWORD or PDFTOX_NO_PAGES. */
PDFTOX_EXPORT int OpenPDF(const char* path, const char* password);

/* The number of pages, or PDFTOX_BAD_HANDLE. */
PDFTOX_EXPORT int GetPageNum(int handle);

/* Page size in points (1/72 inch) as displayed (after the page's rotation), or 0. */
PDFTOX_EXPORT int GetPageWidth(int handle, int page);
PDFTOX_EXPORT int GetPageHeight(int handle, int page);

/* Writes the pages first..last as one RTF document at `outputPath`: the text in reading order
 * as paragraphs with font family, size, bold, italic and colour, the pictures where they stand,
 * a page break between pages. Pages outside the document are skipped; first > last writes a
 * document without pages. The file appears under its name only when complete. Returns the
 * pages written, or PDFTOX_BAD_HANDLE, PDFTOX_BAD_ARGUMENT, PDFTOX_WRITE_FAILED,
 * PDFTOX_DISK_FULL or PDFTOX_STOPPED. */
PDFTOX_EXPORT int ExportRTF(int handle, const char* outputPath, int firstPage, int lastPage,
                            ExportProgressFn progress);

/* Writes one image per page first..last into `folder` (which must exist), rendered at
 * `resolution` dots per inch, in the type of `imageTypeCode`. `colorDepth` 24 gives true
 * colour; 8 or less gives a 256-colour palette (JPEG: grey). `namePrefix` (NULL or empty:
 * "page-") starts every file name, followed by the page number padded with zeros to at least
 * four digits, so names sort in page order: page-0001.png. Pages outside the document are
 * skipped; a page that fails to render part of its content is written with what rendered.
 * Returns the images written, or PDFTOX_BAD_HANDLE, PDFTOX_BAD_ARGUMENT, PDFTOX_WRITE_FAILED,
 * PDFTOX_DISK_FULL or PDFTOX_STOPPED. */
PDFTOX_EXPORT int ExportIMG(int handle, const char* folder, const char* namePrefix,
                            int imageTypeCode, int resolution, int colorDepth, int firstPage,
                            int lastPage, ExportProgressFn progress);

/* Asks every export in progress to stop after the pages in hand: ExportIMG keeps the whole
 * images written so far, ExportRTF writes nothing, and both return PDFTOX_STOPPED. Exports
 * started afterwards run normally. Safe to call from a signal handler or another thread. */
PDFTOX_EXPORT void StopExports(void);

/* How many pages of the last ExportRTF or ExportIMG of this process took longer than a page may
 * (15 seconds) and were cut short with what they had drawn by then; 0 when none. */
PDFTOX_EXPORT int PagesCutShort(void);

/* Turns text recognition on (1, the default) or off (0) for the ExportRTF calls that start
 * afterwards: a page whose own text is missing or unusable while it shows something (a scan,
 * text drawn as outlines, fonts without a character map) has its words read from the page
 * drawn at 300 dpi, with Tesseract, in the languages installed. The environment variable
 * LUMADOC_OCR=0 turns it off from the start. Returns the previous setting. */
PDFTOX_EXPORT int SetTextRecognition(int on);

/* Releases the document; unknown handles are ignored. */
PDFTOX_EXPORT void ClosePDF(int handle);

/* Accepted for compatibility; the library keeps no resource files. Returns 1. */
PDFTOX_EXPORT int SetRCPath(const char* path);

#ifdef __cplusplus
}
#endif

#endif

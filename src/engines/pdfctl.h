/* The page-writing library: writes one one-page PDF per document box, the page showing one image.
 *
 * A plain C interface, loaded at run time by the image-to-PDF assembly. Texts are
 * NUL-terminated UTF-8; numbers are 32-bit signed integers. A box is used by one thread at a
 * time; different boxes may be used on different threads at once. No function lets an
 * exception escape: a failure inside one is its failure result, PDFCTL_FAILED, and
 * GetErrorMsg then tells what went wrong (naming the file when a file is at fault).
 *
 * Use, per page: CreateBox; SetStrProp(PDFCTL_OUTPUT_FILE) and the other properties;
 * BeginDoc; StretchDrawFromFile once or more; EndDoc (the file named by PDFCTL_OUTPUT_FILE
 * now exists, whole: it is written under a temporary name and renamed); FreeBox.
 */
#ifndef LUMADOC_PDFCTL_H
#define LUMADOC_PDFCTL_H

#ifdef __cplusplus
extern "C" {
#endif

#define PDFCTL_EXPORT __attribute__((visibility("default")))

/* The failure result of every function that returns a status; 0 is success. */
#define PDFCTL_FAILED (-1)

/* Property ids of SetStrProp. */

/* The PDF file that EndDoc writes (replaced when it exists). */
#define PDFCTL_OUTPUT_FILE 10
/* Creator and Producer of the document information. */
#define PDFCTL_CREATOR 14

/* Property ids of SetNumProp, with their values. */

/* Unit of page sizes and drawing coordinates. */
#define PDFCTL_UNIT 31
#define PDFCTL_UNIT_POINT 0    /* 1/72 inch (the default) */
#define PDFCTL_UNIT_MM 1       /* millimetre */
#define PDFCTL_UNIT_TENTH_MM 2 /* tenth of a millimetre */
#define PDFCTL_UNIT_INCH_100 3 /* hundredth of an inch */
/* Page height and width in the unit, > 0 (default: A4's). */
#define PDFCTL_PAGE_HEIGHT 34
#define PDFCTL_PAGE_WIDTH 36
/* 1: the page's content stream is Flate-compressed (the default); 0: not. */
#define PDFCTL_COMPRESS_CONTENT 44
/* 1..100: quality of images that PDFCTL_IMAGE_CODING makes JPEG (default 90); JPEG files
 * themselves are always copied, never re-encoded. */
#define PDFCTL_JPEG_QUALITY 45
/* How images other than JPEG files are stored. */
#define PDFCTL_IMAGE_CODING 51
#define PDFCTL_CODING_NONE 0  /* uncompressed */
#define PDFCTL_CODING_JPEG 1  /* JPEG at PDFCTL_JPEG_QUALITY (lossy; alpha kept losslessly) */
#define PDFCTL_CODING_FLATE 2 /* Flate, lossless (the default) */
/* What becomes of an image's alpha channel or transparent colour. */
#define PDFCTL_TRANSPARENCY 52
#define PDFCTL_ALPHA_DROP 0      /* ignored: the colours are drawn as they are */
#define PDFCTL_ALPHA_WHITE 1     /* blended onto white */
#define PDFCTL_ALPHA_SOFT_MASK 2 /* kept as a soft mask (the default) */

/* A new, empty document box. `ownerWindow` is an opaque value kept for callers that pass a
 * window; `reserved` must be 0. Returns a handle (> 0), or PDFCTL_FAILED. */
PDFCTL_EXPORT int CreateBox(long ownerWindow, int reserved);

/* Sets a numeric or text property of `box` (ids above). An unknown id or a value outside its
 * range gives PDFCTL_FAILED; 0 otherwise. Properties take effect at BeginDoc (page size, unit),
 * at each StretchDrawFromFile for the image it draws (image coding, JPEG quality, transparency:
 * the image is stored when it is drawn) or at EndDoc (output file, creator, content
 * compression). */
PDFCTL_EXPORT int SetNumProp(int box, int id, int value);
PDFCTL_EXPORT int SetStrProp(int box, int id, const char* text);

/* Starts the page of `box`. PDFCTL_FAILED without an output file or with a page size <= 0. */
PDFCTL_EXPORT int BeginDoc(int box);

/* Draws the image file at `path` stretched into the rectangle from (x, y), measured in the unit
 * from the page's top-left corner, `width` x `height` in size. JPEG, PNG, BMP, GIF (first
 * frame) and TIFF (first page) are read; the picture is drawn upright as its EXIF orientation
 * says (an invalid orientation counts as none). PDFCTL_FAILED when the file is missing or no
 * readable image, naming the file in GetErrorMsg, when the rectangle is empty (width or height
 * <= 0), or when BeginDoc has not run. */
PDFCTL_EXPORT int StretchDrawFromFile(int box, int x, int y, int width, int height,
                                      const char* path);

/* Writes the page to the output file. PDFCTL_FAILED when it cannot be written (the file is
 * then absent or left as it was) or when a drawn file changed since it was drawn; the page is
 * then kept, so EndDoc may be called again (with another output file, say). After a success
 * the box is empty until the next BeginDoc. */
PDFCTL_EXPORT int EndDoc(int box);

/* Frees `box` and all it holds; an unknown handle is ignored. */
PDFCTL_EXPORT void FreeBox(int box);

/* Copies the message of the calling thread's last failure, cut to `size` - 1 bytes at a
 * character boundary and NUL-terminated, into `buffer`. Returns the length copied. */
PDFCTL_EXPORT int GetErrorMsg(char* buffer, int size);

/* The size in pixels of the image file at `path` as it is shown upright (EXIF orientation
 * applied: a photo turned by 90 degrees gives its height as width). 0 on success, or
 * PDFCTL_FAILED naming the file in GetErrorMsg. */
PDFCTL_EXPORT int MeasureImage(const char* path, int* width, int* height);

#ifdef __cplusplus
}
#endif

#endif

/* Exit statuses of Lumadoc's command-line programs (pdftotext, pdf2htm, pdf2swf, pdftk), which
 * the conversion run reads to tell the user why an output is missing. poppler's own statuses
 * (1 to 3, 99) keep their meaning where our pdftotext passes them on. */
#ifndef LUMADOC_TOOL_STATUS_H
#define LUMADOC_TOOL_STATUS_H

#define TOOL_OK 0
#define TOOL_FAILED 1              /* the input could not be converted */
#define TOOL_USAGE 2               /* a mistake on the command line */
#define TOOL_DISK_FULL 4           /* the output could not be written: no space left */
#define TOOL_FOLDER_NOT_WRITABLE 5 /* the output folder is missing, read-only or forbidden */
#define TOOL_CUT_SHORT 6           /* written, but a page took too long and was cut short */
#define TOOL_NAME_TOO_LONG 7       /* an output's name is longer than the file system allows */
#define TOOL_MISSING_PROGRAM 127   /* a program it runs is not installed */

#endif

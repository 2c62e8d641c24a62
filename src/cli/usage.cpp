#include <cstdio>

#include "cli/commands.h"

void PrintUsage(bool to_stderr) {
  std::FILE* out = to_stderr ? stderr : stdout;
  std::fputs(
      "Usage:\n"
      "  vellumcast-cli index [--NAME=VALUE ...] FOLDER\n"
      "  vellumcast-cli clean FOLDER\n"
      "  vellumcast-cli decode [--key=TEXT] [--flags=N] IMAGE OUT.ppm\n"
      "  vellumcast-cli --help | --version\n"
      "\n"
      "index writes catalog pages into FOLDER and every folder below it.\n"
      "Options of index (defaults in brackets):\n"
      "  --cellwidth=N         cell width in pixels, 1 or more [140]\n"
      "  --cellheight=N        cell height in pixels, 1 or more [100]\n"
      "  --cellsperrow=N       cells per table row, 1 or more [4]\n"
      "  --rowsperpage=N       rows per page; 0 or less: one page per folder [4]\n"
      "  --sort=0|1            subfolder list: 0 alphabetical, 1 by image count [1]\n"
      "  --createthumbs=0|1    write JPEG thumbnails into quarto_tn [0]\n"
      "  --thumbwhite=0|1      thumbnail background: 0 black, 1 white [0]\n"
      "  --straightforward=0|1 1: decode every thumbnail in full, one at a time;\n"
      "                        0: only the rows it samples, on every core [0]\n"
      "  --hlinks=0|1          subfolder lists and redirect pages [1]\n"
      "  --blinks=0|1          Up Level links and back-link pages [1]\n"
      "  --centertable=0|1     centre the image table [1]\n"
      "  --centertitle=0|1     centre the title [1]\n"
      "  --centerfooter=0|1    centre the footer text [1]\n"
      "  --centernavbar=0|1    centre the navigation bar [1]\n"
      "  --dirfirstpageonly=0|1  subfolder list on a folder's first page only [1]\n"
      "  --includefilenames=0|1  file name under each image [1]\n"
      "  --title=TEXT          heading of every page [Vellumcast!]\n"
      "  --footertext=TEXT     footer of every page [Produced by Vellumcast! <home page>]\n"
      "  --headertemplate=FILE HTML file whose head and body start begin every page\n"
      "  --footertemplate=FILE HTML file whose body ends every page\n"
      "  --style=classic|modern  classic tables, or pages that fit phones with a\n"
      "                        viewer page per photo (also 0|1) [classic]\n"
      "  --firstpage=NAME      file name of each folder's first page, e.g. index.html;\n"
      "                        a file of that name no run wrote is kept [vellumcast.html]\n"
      "\n"
      "clean removes every generated page, back-link page, thumbnail and thumbnail\n"
      "folder below FOLDER.\n"
      "\n"
      "Exit status: 0 done, 1 FOLDER missing or not a folder, 2 usage error,\n"
      "130 interrupted (the counters so far are printed).\n",
      out);
}

// The viewer's standard output for a normal start, line for line.
#pragma once

constexpr const char* expectedStartOutput =
    "computing attachments...\n"
    "loading props...\n"
    "\n"
    "key bindings:\n"
    "\t'a' render geometry attachments\n"
    "\t'c' render control mesh\n"
    "\t'e' render eyes\n"
    "\t'h' render attachment-hinting samples\n"
    "\t't' toggle texturing\n"
    "\t<space> toggle interactive defo (right click + drag)\n"
    "\n";

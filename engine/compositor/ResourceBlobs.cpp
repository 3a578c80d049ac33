// The generated resource files, assembled into read-only data. The compiler
// never sees their bytes; the build passes their folder as
// PELORN_RESOURCE_FOLDER and lists them as dependencies of this file.

#ifndef PELORN_RESOURCE_FOLDER
#error "PELORN_RESOURCE_FOLDER must name the folder of the generated resources"
#endif

#define PELORN_BLOB(name, file)                      \
    asm(".section .rodata\n"                         \
        ".balign 16\n"                               \
        ".globl pelorn_res_" #name                   \
        "_begin\n"                                   \
        ".hidden pelorn_res_" #name                  \
        "_begin\n"                                   \
        "pelorn_res_" #name                          \
        "_begin:\n"                                  \
        ".incbin \"" PELORN_RESOURCE_FOLDER "/" file \
        "\"\n"                                       \
        ".globl pelorn_res_" #name                   \
        "_end\n"                                     \
        ".hidden pelorn_res_" #name                  \
        "_end\n"                                     \
        "pelorn_res_" #name                          \
        "_end:\n"                                    \
        ".previous\n");

PELORN_BLOB(fd4003, "FD4003.bin")
PELORN_BLOB(fd4004, "FD4004.bin")
PELORN_BLOB(ag4002, "AG4002.bin")

// volaccess: sample, slice and reslice NIfTI images through the volume library.
#include "commands.h"

int main(int argc, char **argv) { return vacli::run_program(argc, argv); }

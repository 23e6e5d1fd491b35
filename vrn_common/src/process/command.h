/* Describing a child program before it is started: an Environment knows the
 * installation folders from the environment variables <prefix>BINDIR and
 * <prefix>EXECDIR and finds programs; a Command holds a program's resolved
 * path and its arguments. Arguments from the first unquoted '<' or '>' on
 * are redirections, applied to the child's standard streams at its start
 * instead of being passed to it. */
#ifndef VRN_PROCESS_COMMAND_H
#define VRN_PROCESS_COMMAND_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Environment {
    char* prefix;      /* "KWX5" when none is given */
    char* binDir;
    char* execDir;
    char* tmpDir;      /* TMPDIR, default "." */
    char* binDirVar;   /* prefix + "BINDIR" */
    char* execDirVar;  /* prefix + "EXECDIR" */
    char* tmpDirVar;   /* "TMPDIR" */
} Environment;

/* NULL (after publishing error 10019) when either folder variable is unset;
 * an empty value counts as set. */
Environment* Environment_new(const char* prefix);
void Environment_delete(Environment* environment);
/* The override variable of a program: for "KWX5" and "kwxtolvreader.exe",
 * "KWX5_KWXTOLVREADER_EXEC"; "COMMAND" in place of "EXEC" for a program
 * without ".exe". New string. */
char* Environment_buildVariable(Environment* environment, const char* command, int isExe);
/* The program's path (new string): the override variable's value when set,
 * else for an ".exe" the exec folder's copy, else the bin folder's copy,
 * else the exec folder's path; without ".exe" the bin folder's path. */
char* Environment_findCommand(Environment* environment, const char* command);

enum {
    VRN_COMMAND_LOOKUP = 0,      /* path from the environment */
    VRN_COMMAND_SEARCH_PATH = 1, /* name looked up in PATH */
    VRN_COMMAND_LOCAL = 2,       /* "./" + name */
    VRN_COMMAND_AS_GIVEN = 3     /* the name is the path */
};

typedef struct Command {
    char* name;
    char* path;                /* NULL for an unknown mode */
    Environment* environment;  /* borrowed */
    int m_noOfArguments;
    char** argv;
    int capacity;              /* 10 at creation, +10 when full */
    int plainArgs;
    int redirectionArgs;
    int mode;
} Command;

/* mode becomes VRN_COMMAND_LOOKUP whenever an environment is given. */
Command* Command_new(Environment* environment, const char* name, int mode);
void Command_delete(Command* command);
/* Adds each argument of the NULL-terminated list with Command_addArgument. */
int Command_addArguments(Command* command, ...);
/* Adds a copy; from the first argument holding a '<' or '>' outside quotes
 * on, arguments count as redirections. Returns 1. */
int Command_addArgument(Command* command, const char* argument);
/* Adds a copy that is passed to the program unchanged, whatever it holds
 * (file names with '<' or '>'). 0 once a redirection has been added, since
 * every argument after a redirection belongs to it. */
int Command_addPlainArgument(Command* command, const char* argument);
char* Command_getPath(Command* command);
int Command_isSearchPath(Command* command);
/* The number of plain arguments. */
int Command_getNoOfArguments(Command* command);
/* Copy of argument i (plain and redirection arguments counted together);
 * an index outside the arguments fails an assertion. */
char* Command_getArgument(Command* command, int i);
/* Argument i wrapped in the quote character when it holds white space. */
char* Command_getQuotedArgument(Command* command, char quote, int i);

#ifdef __cplusplus
}
#endif

#endif

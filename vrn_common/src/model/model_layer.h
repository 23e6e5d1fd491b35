/* The model level's place in the model database: the levels below it (the
 * type registry and the state manager) never call up into the model or the
 * topology; what they need from above is registered here. */
#ifndef VRN_MODEL_MODEL_LAYER_H
#define VRN_MODEL_MODEL_LAYER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the routines of every model class in the type registry. */
void vrnModelClasses_install(void);

/* Installs the model classes and gives the state manager its first-use
 * routine: when a persistent object is used before any repository was
 * opened, a repository on the file "_changes" (".vrn" appended, in the
 * working folder) is opened and its manager becomes the process-wide one.
 * Runs once as the program starts; calling it again does no harm. */
void vrnModel_register(void);

#ifdef __cplusplus
}
#endif

#endif

#pragma once

// Marks a row kernel for an AVX2 clone beside the default one, chosen when
// the module loads. Kernels so marked must have internal linkage: the
// resolvers of external ones would be exported whatever the visibility.
// The resolvers run while the loader relocates a program that links the
// kernels statically, before the thread sanitizer's runtime is up, and its
// instrumentation crashes them there: such builds keep the default only.
#if defined(__SANITIZE_THREAD__)
#define GXRL_VECTOR_CLONES
#else
#define GXRL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

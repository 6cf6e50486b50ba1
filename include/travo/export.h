/*
 * travo: test functions for global optimisation with known minima.
 *
 * TRAVO_API marks what libtravo exports: the C interface of travo.h and the
 * C++ interface of travo.hpp, nothing else. Everything else in the library
 * is hidden. A program that links the static library on Windows defines
 * TRAVO_STATIC_DEFINE (the CMake package and pkg-config file do so).
 */
#ifndef TRAVO_EXPORT_H
#define TRAVO_EXPORT_H

#if defined(TRAVO_STATIC_DEFINE)
#define TRAVO_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#ifdef TRAVO_BUILDING_LIBRARY
#define TRAVO_API __declspec(dllexport)
#else
#define TRAVO_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define TRAVO_API __attribute__((visibility("default")))
#else
#define TRAVO_API
#endif

#endif

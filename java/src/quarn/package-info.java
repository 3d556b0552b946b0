/**
 * Bayesian networks, influence diagrams and diagnostic networks held by the native library:
 * {@link quarn.Network} with {@link quarn.DiagNetwork} and {@link quarn.ValueOfInfo}; learning is
 * in {@code quarn.learning}.
 *
 * <p>Threads: the native library is single-threaded, so the classes of this package and of
 * {@code quarn.learning} serialise their native calls. Every native method holds one lock for
 * the whole process while it runs; calls from several threads, on the same object or on separate
 * ones, take turns and never run at the same time. An object shared between threads must not be
 * closed while another thread may still use it.
 *
 * <p>Text: every {@code String} argument reaches the library as the caller wrote it. A string
 * that is null, holds U+0000 or is not valid UTF-16 (a surrogate that is not half of a pair) is
 * refused with a {@link quarn.QUARNException} whose message names the argument.
 */
package quarn;

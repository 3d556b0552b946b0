package quarn;

/**
 * Base of every host object that owns a native object. The native address lives in
 * {@code ptrNative}; 0 means there is none (never created or already released), and the native
 * methods refuse such an object with a {@link QUARNException} instead of touching memory.
 *
 * <p>The library is found through the system property {@code quarn.library} (a full path) when
 * it is set, else on {@code java.library.path} under the name "quarn".
 */
public abstract class Wrapper implements AutoCloseable {
    static {
        String path = System.getProperty("quarn.library");
        if (path != null && !path.isEmpty()) {
            System.load(path);
        } else {
            System.loadLibrary("quarn");
        }
        nativeStaticInit();
    }

    private static native void nativeStaticInit();

    protected long ptrNative;

    /** Destroys the native object at the address; 0 does nothing. */
    protected abstract void deleteNative(long address);

    /** Releases the native object; later native calls on this object raise an exception. */
    @Override
    public void close() {
        long address = ptrNative;
        ptrNative = 0;
        if (address != 0) {
            deleteNative(address);
        }
    }

    /** True while the object owns a native object. */
    public boolean isAlive() {
        return ptrNative != 0;
    }
}

package quarn;

/**
 * Base of every host object that owns a native object. The native address lives in
 * {@code ptrNative}; 0 means there is none (never created or already released), and the native
 * methods refuse such an object with a {@link QUARNException} instead of touching memory.
 *
 * <p>Native calls are serialised: one runs at a time in the whole process, whatever the thread
 * and the object (see the package description).
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

    /** The address of the native object; 0 when there is none. */
    protected long ptrNative;

    /**
     * Destroys the native object at an address.
     *
     * @param address the native object's address; 0 does nothing
     */
    protected abstract void deleteNative(long address);

    /**
     * Releases the native object; later native calls on this object raise {@link
     * QUARNException}. A second call does nothing.
     */
    @Override
    public void close() {
        long address = ptrNative;
        ptrNative = 0;
        if (address != 0) {
            deleteNative(address);
        }
    }

    /**
     * Whether the object still owns a native object.
     *
     * @return true until {@link #close()}
     */
    public boolean isAlive() {
        return ptrNative != 0;
    }
}

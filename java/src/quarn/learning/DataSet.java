package quarn.learning;

import quarn.Network;
import quarn.Wrapper;

/**
 * A table of observations for learning: named columns (variables) of equal length, each cell
 * four bytes read as an {@code int} in a discrete column and as a {@code float} in a
 * continuous one. Read it from a delimited text file or build it by hand, then tie it to a
 * network with {@link #matchNetwork(Network)} or {@link #setNodeHandle(int, int)}.
 *
 * <p>Variable and record indices start at 0. A data set owns native memory: close it (it is
 * {@link AutoCloseable}) when done.
 */
public class DataSet extends Wrapper {
    /** An empty data set: no variables, no records. */
    public DataSet() {
        ptrNative = createNative(null);
    }

    private native long createNative(Object unused);

    @Override
    protected native void deleteNative(long address);

    /**
     * The number of records.
     *
     * @return the record count
     */
    public native int getRecordCount();

    /**
     * The number of variables.
     *
     * @return the variable count
     */
    public native int getVariableCount();

    /**
     * The identifier of a variable.
     *
     * @param variable the variable index
     * @return the column name
     * @throws quarn.QUARNException for an index out of range
     */
    public native String getVariableId(int variable);

    /**
     * Replaces the content with a delimited text file: a header line of column names, then
     * one record per line. The separator is the first of tab, comma, semicolon and space found
     * in the header. Columns hold integers until a field with a fraction makes them float
     * columns, or a field that is not a number makes them named columns (state names sorted by
     * their bytes).
     *
     * @param file the path of the data file
     * @param missingToken the text of a missing field; null for "*"
     * @param missingInt the cell of a missing field in an integer column
     * @param missingFloat the cell of a missing field in a float column
     * @throws quarn.QUARNException "QUARN error -1 in function readFile" with the reader's
     *     message when the file cannot be opened or read
     */
    public native void readFile(String file, String missingToken, int missingInt,
            float missingFloat);

    /**
     * Ties every variable to the node of the network with the same identifier, and turns the
     * cells of named columns into outcome indices of those nodes. Nothing changes when a
     * variable cannot be matched.
     *
     * @param net the network
     * @throws quarn.QUARNException with the reason when a variable has no node or a state no
     *     outcome
     */
    public native void matchNetwork(Network net);

    /**
     * A cell read as an int.
     *
     * @param variable the variable index
     * @param record the record index
     * @return the cell's four bytes as an int
     * @throws quarn.QUARNException for an index out of range
     */
    public native int getInt(int variable, int record);

    /**
     * Writes a cell as an int.
     *
     * @param variable the variable index
     * @param record the record index
     * @param value the new cell
     * @throws quarn.QUARNException for an index out of range
     */
    public native void setInt(int variable, int record, int value);

    /**
     * A cell read as a float.
     *
     * @param variable the variable index
     * @param record the record index
     * @return the cell's four bytes as a float
     * @throws quarn.QUARNException for an index out of range
     */
    public native float getFloat(int variable, int record);

    /**
     * Writes a cell as a float.
     *
     * @param variable the variable index
     * @param record the record index
     * @param value the new cell
     * @throws quarn.QUARNException for an index out of range
     */
    public native void setFloat(int variable, int record, float value);

    /**
     * Adds a discrete variable; existing records get the missing cell in it.
     *
     * @param id the column name, unique in the data set
     * @param missing the cell that marks a missing observation
     * @throws quarn.QUARNException "QUARN error -1 in function addIntVariable" for a taken name
     */
    public native void addIntVariable(String id, int missing);

    /**
     * Adds a continuous variable; existing records get the missing cell in it.
     *
     * @param id the column name, unique in the data set
     * @param missing the cell that marks a missing observation
     * @throws quarn.QUARNException "QUARN error -1 in function addFloatVariable" for a taken
     *     name
     */
    public native void addFloatVariable(String id, float missing);

    /**
     * The node a variable is tied to.
     *
     * @param variable the variable index
     * @return the node handle; -1 when never matched or set
     * @throws quarn.QUARNException for an index out of range
     */
    public native int getNodeHandle(int variable);

    /**
     * Ties a variable to a node.
     *
     * @param variable the variable index
     * @param handle the node handle
     * @throws quarn.QUARNException for an index out of range
     */
    public native void setNodeHandle(int variable, int handle);

    /**
     * The state names of a named variable, in the order its cells index them.
     *
     * @param variable the variable index
     * @return the names; empty for a variable without names
     * @throws quarn.QUARNException for an index out of range
     */
    public native String[] getStateNames(int variable);

    /**
     * Replaces the state names of a variable; its cells are taken as indices into them.
     *
     * @param variable the variable index
     * @param names the names
     * @throws quarn.QUARNException for an index out of range or a null name
     */
    public native void setStateNames(int variable, String[] names);

    /** Appends a record whose every cell is its variable's missing cell. */
    public native void addEmptyRecord();
}

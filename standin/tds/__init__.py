"""The parts of standin/tds-server: TDS framing and types, the T-SQL translation, the SQLite session."""

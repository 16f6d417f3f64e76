+y4btTLuecdamZ3+zfoiN4H6ddCJpvc7G9zGzXfP6l/Vz8+i/gxgvbnkxPkhQYsd0d4eYpoPN7p/HPgx4F4+BQ==
